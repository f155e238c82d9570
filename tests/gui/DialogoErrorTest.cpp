// The error dialog, run in this process: its texts, and that the call blocks
// until the user has closed the dialog by its button or from the title bar.
#include "support/LauncherEnPruebas.h"
#include "ui/UtilesLauncher.h"

#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Xlib's macros clash with gtkmm: the X headers come last.
#include <gdk/gdkx.h>

namespace {

enum class Cierre { boton, barraTitulo };

struct CasoDialogo {
    const char* nombre;
    std::string mensaje;
    std::string titulo;
    Cierre cierre;
};

std::vector<Gtk::MessageDialog*> dialogosAbiertos()
{
    std::vector<Gtk::MessageDialog*> dialogos;
    for (Gtk::Window* ventana : Gtk::Window::list_toplevels())
        if (auto* dialogo = dynamic_cast<Gtk::MessageDialog*>(ventana))
            dialogos.push_back(dialogo);
    return dialogos;
}

void recogerEtiquetas(Gtk::Widget& widget, std::vector<std::string>& textos)
{
    if (auto* etiqueta = dynamic_cast<Gtk::Label*>(&widget))
        textos.push_back(etiqueta->get_text());
    if (auto* contenedor = dynamic_cast<Gtk::Container*>(&widget))
        for (Gtk::Widget* hijo : contenedor->get_children())
            recogerEtiquetas(*hijo, textos);
}

// What the watcher saw of the dialog while dialogoError was running.
struct Observacion {
    bool visto = false;
    bool devueltoAlVerlo = true;
    bool devueltoAlCerrar = true;
    bool visible = false;
    bool modal = false;
    bool conPadre = true;
    bool conIcono = false;
    bool conMarcado = true;
    std::string titulo;
    std::string texto;
    std::vector<std::string> etiquetas;
    int rondas = 0;
};

void comprobarDialogo(const CasoDialogo& caso)
{
    Observacion vista;
    bool devuelto = false;
    const auto inicio = std::chrono::steady_clock::now();

    // Runs inside the dialog's own loop: finds the dialog, reads it, lets it
    // stand a few rounds to show that the call is still waiting, then closes it.
    sigc::connection vigilante = Glib::signal_timeout().connect(
        [&]() -> bool {
            const std::vector<Gtk::MessageDialog*> dialogos = dialogosAbiertos();
            if (dialogos.empty() || !dialogos.front()->get_mapped()) {
                if (std::chrono::steady_clock::now() - inicio > std::chrono::seconds(10)) {
                    // Nothing to close: the call would never come back.
                    std::fprintf(stderr, "the error dialog never appeared\n");
                    std::_Exit(3);
                }
                return true;
            }
            Gtk::MessageDialog& dialogo = *dialogos.front();
            if (!vista.visto) {
                vista.visto = true;
                vista.devueltoAlVerlo = devuelto;
                vista.visible = dialogo.get_visible();
                vista.modal = dialogo.get_modal();
                vista.conPadre = dialogo.get_transient_for() != nullptr;
                vista.conIcono = static_cast<bool>(dialogo.get_icon());
                vista.conMarcado = dialogo.property_use_markup().get_value();
                vista.titulo = dialogo.get_title();
                vista.texto = dialogo.property_text().get_value();
                recogerEtiquetas(dialogo, vista.etiquetas);
            }
            if (++vista.rondas < 10)
                return true;
            vista.devueltoAlCerrar = devuelto;
            if (caso.cierre == Cierre::boton) {
                auto* cerrar =
                    dynamic_cast<Gtk::Button*>(dialogo.get_widget_for_response(Gtk::RESPONSE_CLOSE));
                if (cerrar != nullptr)
                    cerrar->clicked();
                else
                    dialogo.response(Gtk::RESPONSE_CLOSE);
            } else {
                LauncherEnPruebas::cerrarDesdeTitulo(
                    gdk_x11_drawable_get_xid(dialogo.get_window()->gobj()));
            }
            return false;
        },
        30);

    UtilesLauncher::dialogoError(caso.mensaje, caso.titulo);
    devuelto = true;
    vigilante.disconnect();

    ASSERT_TRUE(vista.visto);
    EXPECT_FALSE(vista.devueltoAlVerlo);
    EXPECT_FALSE(vista.devueltoAlCerrar) << "dialogoError returned while its dialog stood open";
    EXPECT_GE(vista.rondas, 10) << "dialogoError returned before it was closed";
    EXPECT_TRUE(vista.visible);
    EXPECT_TRUE(vista.modal) << "the dialog is modal while it runs";
    EXPECT_FALSE(vista.conPadre);
    EXPECT_TRUE(vista.conIcono) << "error.png is in the data folder";
    EXPECT_EQ(vista.titulo, caso.titulo);
    EXPECT_EQ(vista.texto, caso.mensaje);
    EXPECT_FALSE(vista.conMarcado);
    // What the user reads: the message exactly, markup characters included.
    EXPECT_NE(std::find(vista.etiquetas.begin(), vista.etiquetas.end(), caso.mensaje),
              vista.etiquetas.end())
        << "no label shows the message as given";
    // The dialog lives for the call only.
    UtilesLauncher::actualizarInterfaz();
    EXPECT_TRUE(dialogosAbiertos().empty());
}

} // namespace

TEST(DialogoErrorTest, MuestraTextoYTituloYDevuelveSoloTrasCerrarse)
{
    if (gdk_display_get_default() == nullptr)
        GTEST_SKIP() << "no X display";
    const CasoDialogo casos[] = {
        {"update failure", "The system can not be update. Try later or contact as support",
         "Update error", Cierre::boton},
        {"markup and non-ASCII", "<b>5 < 6 & 7</b> \xe2\x80\x94 \xc3\xb1" "and\xc3\xba\nsecond line",
         "T\xc3\xadtulo & <i>error</i>", Cierre::boton},
        {"closed from the title bar", "Message first", "Title second", Cierre::barraTitulo},
    };
    for (const CasoDialogo& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        comprobarDialogo(caso);
    }
}
