// The launcher window and its two panels, built in this process from the real
// layout files of the build tree's data folder and read back widget by widget.
#include "core/ModulosLauncher.h"
#include "core/NucleoLauncher.h"
#include "release/InstaladorVersion.h"
#include "support/EntornoPruebas.h"
#include "support/ServidorPruebas.h"
#include "ui/DialogoActulizacion.h"
#include "ui/DialogoSeleccionAct.h"
#include "ui/InterfazLauncher.h"
#include "ui/UtilesLauncher.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/main.h>
#include <gtkmm/progressbar.h>
#include <gtkmm/textview.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace EntornoPruebas;

namespace {

// GLib reads XDG_CONFIG_HOME once per process, and a controller built here
// writes its settings below it: point it at a scratch folder before anything asks.
struct ConfiguracionAislada {
    CarpetaTemporal carpeta;
    ConfiguracionAislada() { setenv("XDG_CONFIG_HOME", carpeta.ruta().c_str(), 1); }
};
ConfiguracionAislada configuracionAislada;

std::vector<Gtk::Widget*> hijos(Gtk::Widget& widget)
{
    std::vector<Gtk::Widget*> lista;
    if (auto* contenedor = dynamic_cast<Gtk::Container*>(&widget))
        for (Gtk::Widget* hijo : contenedor->get_children())
            lista.push_back(hijo);
    return lista;
}

// The layout loader names every widget after its name in the layout file.
Gtk::Widget* buscar(Gtk::Widget& raiz, const std::string& nombre)
{
    if (raiz.get_name() == nombre)
        return &raiz;
    for (Gtk::Widget* hijo : hijos(raiz))
        if (Gtk::Widget* encontrado = buscar(*hijo, nombre))
            return encontrado;
    return nullptr;
}

template <typename T>
T* buscarComo(Gtk::Widget& raiz, const std::string& nombre)
{
    return dynamic_cast<T*>(buscar(raiz, nombre));
}

void recogerOcultos(Gtk::Widget& widget, std::vector<std::string>& ocultos)
{
    if (!widget.get_visible())
        ocultos.push_back(widget.get_name());
    for (Gtk::Widget* hijo : hijos(widget))
        recogerOcultos(*hijo, ocultos);
}

// Runs window events until `condicion` holds or two seconds have passed.
bool bombearHasta(const std::function<bool()>& condicion)
{
    return esperar(
        [&] {
            UtilesLauncher::actualizarInterfaz();
            return condicion();
        },
        std::chrono::seconds(2));
}

bool hayPantalla() { return gdk_display_get_default() != nullptr; }

} // namespace

// ---------------------------------------------------------------------------
// The window with the offer panel, and the switch to the progress panel.

class VentanaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!hayPantalla())
            GTEST_SKIP() << "no X display";
        ventana = std::make_unique<InterfazLauncher>();
    }
    void TearDown() override
    {
        ventana.reset();
        if (hayPantalla())
            UtilesLauncher::actualizarInterfaz();
    }

    std::unique_ptr<InterfazLauncher> ventana;
};

TEST_F(VentanaTest, SeConstruyeOcultaConElPanelDeOferta)
{
    EXPECT_EQ(ventana->get_title(), "Tarsenvik Updater");
    int ancho = 0, alto = 0;
    ventana->get_default_size(ancho, alto);
    EXPECT_EQ(ancho, 500);
    EXPECT_EQ(alto, 80);
    ASSERT_TRUE(static_cast<bool>(ventana->get_icon())) << "logoTarsenvik.png as the window icon";
    EXPECT_FALSE(ventana->get_visible()) << "the window shows only when the main loop runs it";
    EXPECT_EQ(ventana->getDialogoActualizacion(), nullptr);

    DialogoSeleccionAct* oferta = ventana->getDialogoSeleccionAct();
    ASSERT_NE(oferta, nullptr);
    EXPECT_EQ(ventana->get_child(), oferta);
    const std::vector<Gtk::Widget*> raiz = hijos(*oferta);
    ASSERT_EQ(raiz.size(), 1u);
    EXPECT_EQ(raiz[0]->get_name(), "vboxRelease");

    // Each getter hands out the widget of its own name, from this panel's tree.
    struct {
        Gtk::Widget* widget;
        const char* nombre;
    } const getters[] = {
        {oferta->getUpdateButton(), "updateBotonT"},
        {oferta->getRemindLaterButton(), "remindLaterT"},
        {oferta->getSkipVersionButton(), "skipVersionT"},
        {oferta->getTextViewDescripcion(), "notesVersionT"},
    };
    for (const auto& g : getters) {
        SCOPED_TRACE(g.nombre);
        ASSERT_NE(g.widget, nullptr);
        EXPECT_EQ(g.widget->get_name(), g.nombre);
        EXPECT_EQ(buscar(*oferta, g.nombre), g.widget);
    }

    auto* logo = buscarComo<Gtk::Image>(*oferta, "ImageLogoT");
    ASSERT_NE(logo, nullptr);
    ASSERT_EQ(logo->get_storage_type(), Gtk::IMAGE_PIXBUF) << "the logo, not the broken-image icon";
    EXPECT_GT(logo->get_pixbuf()->get_width(), 1);

    std::vector<std::string> ocultos;
    recogerOcultos(*oferta, ocultos);
    EXPECT_TRUE(ocultos.empty()) << "hidden: " << ::testing::PrintToString(ocultos);
}

TEST_F(VentanaTest, AlMostrarseElBotonDeActualizarTieneElFocoYEsElPredeterminado)
{
    Gtk::Button* actualizar = ventana->getDialogoSeleccionAct()->getUpdateButton();
    ASSERT_NE(actualizar, nullptr);
    ventana->show();
    ASSERT_TRUE(bombearHasta([&] { return ventana->get_mapped(); }));
    EXPECT_TRUE(actualizar->is_focus());
    EXPECT_TRUE(actualizar->has_default());
    EXPECT_EQ(ventana->get_focus(), actualizar);
}

TEST_F(VentanaTest, ElCambioDePanelDejaSoloElDeProgresoA400Por150)
{
    DialogoSeleccionAct* oferta = ventana->getDialogoSeleccionAct();
    const std::vector<Gtk::Widget*> antes = {
        oferta->getUpdateButton(), oferta->getRemindLaterButton(), oferta->getSkipVersionButton(),
        oferta->getTextViewDescripcion()};
    ventana->show();
    ASSERT_TRUE(bombearHasta([&] { return ventana->get_mapped(); }));

    ventana->crearDialogoActuliazcion();

    DialogoActulizacion* progreso = ventana->getDialogoActualizacion();
    ASSERT_NE(progreso, nullptr);
    EXPECT_EQ(ventana->get_child(), progreso);
    const std::vector<Gtk::Widget*> raiz = hijos(*progreso);
    ASSERT_EQ(raiz.size(), 1u);
    EXPECT_EQ(raiz[0]->get_name(), "BoxActualizador");
    std::vector<std::string> ocultos;
    recogerOcultos(*progreso, ocultos);
    EXPECT_TRUE(ocultos.empty()) << "hidden: " << ::testing::PrintToString(ocultos);

    // The offer panel is out of the window but alive, with the same widgets.
    EXPECT_EQ(ventana->getDialogoSeleccionAct(), oferta);
    EXPECT_EQ(oferta->get_parent(), nullptr);
    const std::vector<Gtk::Widget*> despues = {
        oferta->getUpdateButton(), oferta->getRemindLaterButton(), oferta->getSkipVersionButton(),
        oferta->getTextViewDescripcion()};
    EXPECT_EQ(despues, antes);
    EXPECT_EQ(buscar(*oferta, "updateBotonT"), oferta->getUpdateButton());

    int ancho = 0, alto = 0;
    bombearHasta([&] {
        ventana->get_size(ancho, alto);
        return ancho == 400 && alto == 150;
    });
    EXPECT_EQ(ancho, 400);
    EXPECT_EQ(alto, 150);
    EXPECT_TRUE(ventana->get_visible());
}

// ---------------------------------------------------------------------------
// The progress panel as the window shows it, driven through its operations.

class PanelProgresoTest : public VentanaTest {
protected:
    void SetUp() override
    {
        VentanaTest::SetUp();
        if (IsSkipped())
            return;
        ventana->crearDialogoActuliazcion();
        panel = ventana->getDialogoActualizacion();
        ASSERT_NE(panel, nullptr);
        barra = buscarComo<Gtk::ProgressBar>(*panel, "barraProgreso");
        ficheros = buscarComo<Gtk::Label>(*panel, "NumFicherosA");
        velocidad = buscarComo<Gtk::Label>(*panel, "velocidadDesc");
        cantidad = buscarComo<Gtk::Label>(*panel, "InfoDescargaA");
        cerrar = buscarComo<Gtk::Button>(*panel, "BotonCerrarA");
        ASSERT_TRUE(barra && ficheros && velocidad && cantidad && cerrar);
    }

    std::vector<std::string> textos() const
    {
        return {barra->get_text(), ficheros->get_text(), velocidad->get_text(),
                cantidad->get_text()};
    }

    DialogoActulizacion* panel = nullptr;
    Gtk::ProgressBar* barra = nullptr;
    Gtk::Label* ficheros = nullptr;
    Gtk::Label* velocidad = nullptr;
    Gtk::Label* cantidad = nullptr;
    Gtk::Button* cerrar = nullptr;
};

TEST_F(PanelProgresoTest, CadaOperacionEscribeSuTextoEnSuWidget)
{
    enum Destino { enBarra = 0, enFicheros = 1, enVelocidad = 2, enCantidad = 3 };
    using Operacion = std::function<void(DialogoActulizacion&)>;
    auto estado = [](double f) -> Operacion { return [f](DialogoActulizacion& p) { p.actualizaEstado(f); }; };
    auto vel = [](double k) -> Operacion { return [k](DialogoActulizacion& p) { p.actualizaVelocidad(k); }; };
    auto info = [](double a, double b) -> Operacion {
        return [a, b](DialogoActulizacion& p) { p.actualizaInfoDescarga(a, b); };
    };
    auto num = [](int i, int n) -> Operacion {
        return [i, n](DialogoActulizacion& p) { p.actualizaNumFicheros(i, n); };
    };
    struct Caso {
        const char* que;
        Operacion operacion;
        Destino destino;
        std::string texto;
    };
    const Caso casos[] = {
        {"fraction 0", estado(0), enBarra, "0 %"},
        {"fraction 0.05", estado(0.05), enBarra, "5 %"},
        {"fraction 0.0987654", estado(0.0987654), enBarra, "9.87 %"},
        {"fraction 0.123456", estado(0.123456), enBarra, "12.34 %"},
        {"fraction 0.999999", estado(0.999999), enBarra, "99.99 %"},
        {"fraction 1", estado(1), enBarra, "100 %"},
        // Our choice: what would render in exponent form reads 0.
        {"fraction 1e-7", estado(1e-7), enBarra, "0 %"},
        {"speed 0", vel(0), enVelocidad, "Speed: 0 KB/s"},
        {"speed 45.3", vel(45.3), enVelocidad, "Speed: 45. KB/s"},
        {"speed 899.99", vel(899.99), enVelocidad, "Speed: 899 KB/s"},
        {"speed 900", vel(900), enVelocidad, "Speed: 0.87 MB/s"},
        {"speed 1536", vel(1536), enVelocidad, "Speed: 1.5 MB/s"},
        {"speed 5e-5", vel(5e-5), enVelocidad, "Speed: 0 KB/s"},
        {"amount 0 of 0", info(0, 0), enCantidad, "Downloaded 0 from 0 KB"},
        {"amount 100.5 of 900", info(100.5, 900), enCantidad, "Downloaded 100 from 900 KB"},
        {"amount 512 of 2048", info(512, 2048), enCantidad, "Downloaded 0.5 from 2 MB"},
        {"amount 1280 of 5120", info(1280, 5120), enCantidad, "Downloaded 1.25 from 5 MB"},
        // Our choice: a total of exactly 1000 KB shows in MB, as it would not fit three characters.
        {"amount 500 of 1000", info(500, 1000), enCantidad, "Downloaded 0.48 from 0.97 MB"},
        {"amount 0.01 of 5120", info(0.01, 5120), enCantidad, "Downloaded 0 from 5 MB"},
        {"amount 1e-5 of 900", info(1e-5, 900), enCantidad, "Downloaded 0 from 900 KB"},
        {"file 1 of 12", num(1, 12), enFicheros, "Downloading 1 from 12"},
        {"file 12 of 12", num(12, 12), enFicheros, "Downloading 12 from 12"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.que);
        const std::vector<std::string> antes = textos();
        caso.operacion(*panel);
        std::vector<std::string> esperados = antes;
        esperados[caso.destino] = caso.texto;
        EXPECT_EQ(textos(), esperados);
    }
}

TEST_F(PanelProgresoTest, LaBarraRecibeLaFraccionTalCual)
{
    for (const double fraccion : {0.0, 0.05, 0.0987654, 0.5, 0.999999, 1.0}) {
        SCOPED_TRACE(fraccion);
        panel->actualizaEstado(fraccion);
        EXPECT_DOUBLE_EQ(barra->get_fraction(), fraccion);
    }
}

TEST_F(PanelProgresoTest, FinalizaDescargaDejaElMensajeFinalCentrado)
{
    panel->actualizaNumFicheros(3, 3);
    panel->actualizaInfoDescarga(1280, 5120);
    panel->actualizaVelocidad(45.3);
    panel->actualizaEstado(0.999999);

    panel->FinalizaDescarga();

    EXPECT_EQ(ficheros->get_text(), "System updated correctly");
    float x = 0, y = 0;
    ficheros->get_alignment(x, y);
    EXPECT_FLOAT_EQ(x, 0.5f);
    EXPECT_FLOAT_EQ(y, 0.5f);
    EXPECT_EQ(cantidad->get_text(), "");
    EXPECT_EQ(velocidad->get_text(), "");
    EXPECT_EQ(barra->get_text(), "99.99 %");
    EXPECT_DOUBLE_EQ(barra->get_fraction(), 0.999999);
}

TEST_F(PanelProgresoTest, SetActiveCerrarActivaElBotonQueCierraLaVentanaYSuBucle)
{
    ventana->show();
    ASSERT_TRUE(bombearHasta([&] { return ventana->get_mapped(); }));
    EXPECT_FALSE(cerrar->get_sensitive()) << "inactive until the update is complete";
    // Until then the button has no handler at all.
    cerrar->clicked();
    UtilesLauncher::actualizarInterfaz();
    EXPECT_TRUE(ventana->get_visible());

    panel->setActiveCerrar();
    EXPECT_TRUE(cerrar->get_sensitive());

    // The user's click, from inside the main loop that runs the window.
    bool pulsado = false;
    bool agotado = false;
    const auto inicio = std::chrono::steady_clock::now();
    sigc::connection pulsador = Glib::signal_timeout().connect(
        [&]() -> bool {
            if (!pulsado) {
                pulsado = true;
                cerrar->clicked();
                return true;
            }
            if (std::chrono::steady_clock::now() - inicio > std::chrono::seconds(5)) {
                agotado = true;
                ventana->hide();
                return false;
            }
            return true;
        },
        50);
    Gtk::Main::run(*ventana);
    pulsador.disconnect();

    EXPECT_TRUE(pulsado);
    EXPECT_FALSE(agotado) << "the click did not end the main loop";
    EXPECT_FALSE(ventana->get_visible());
}

// ---------------------------------------------------------------------------
// The release check fills the offer panel's notes from the real release table.

TEST(NotasTest, LleganAlTextoExactamenteComoEstanEnLaTabla)
{
    if (!hayPantalla())
        GTEST_SKIP() << "no X display";
    ASSERT_TRUE(ServidorPruebas::asegurarServidor());
    struct Caso {
        const char* nombre;
        int ultimaVersion;
        std::string notas;
        bool ofrecida;
    };
    const Caso casos[] = {
        {"several lines, UTF-8 and signs", 305063,
         "Tarsenvik 3.5 \xe2\x80\x94 what's new\n\n"
         "\xe2\x80\xa2 Faster start-up & smaller downloads\n"
         "\xe2\x80\xa2 Fixed a crash when <Ctrl>+S was pressed twice\r\n"
         "\tIndented: \xc3\xa4\xc3\xb6\xc3\xbc \xc3\xb1 \xe6\xbc\xa2\xe5\xad\x97 \xf0\x9f\x9a\x80\n\n",
         true},
        {"markup stays text", 305063,
         "<b>bold?</b> &amp; <span foreground=\"red\">red</span> &lt;", true},
        {"empty notes", 305064, "", true},
        {"nothing newer than the floor", 305062, "never shown", false},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        ServidorPruebas::vaciarVersiones();
        ServidorPruebas::insertarVersion(caso.ultimaVersion, "win32", caso.notas,
                                         ServidorPruebas::urlBase());
        NucleoLauncher nucleo;
        Gtk::TextView* texto =
            nucleo.getInterfazLaunch()->getDialogoSeleccionAct()->getTextViewDescripcion();
        ASSERT_NE(texto, nullptr);
        // Whatever stood there before is replaced, not added to.
        const std::string previo = "left over";
        texto->get_buffer()->set_text(previo);

        const bool ofrecida = nucleo.comprobarNuevasActualizaciones();

        ASSERT_EQ(ofrecida, caso.ofrecida);
        const std::string mostrado = texto->get_buffer()->get_text(true);
        InstaladorVersion* instalador = nucleo.getModulosLauncher()->getInstaladorVersion();
        if (caso.ofrecida) {
            EXPECT_EQ(mostrado, caso.notas);
            ASSERT_NE(instalador, nullptr);
            EXPECT_EQ(instalador->getUltimaVersion(), caso.ultimaVersion);
        } else {
            EXPECT_EQ(mostrado, previo);
            EXPECT_EQ(instalador, nullptr);
        }
    }
}
