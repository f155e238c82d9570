#include "ui/InterfazLauncher.h"

#include "ui/DialogoActulizacion.h"
#include "ui/DialogoSeleccionAct.h"
#include "ui/UtilesLauncher.h"

#include <gtkmm/button.h>

InterfazLauncher::InterfazLauncher()
    : Gtk::Window(Gtk::WINDOW_TOPLEVEL), dialogoActualizacion(nullptr), dialogoSeleccionAct(nullptr)
{
    set_title("Tarsenvik Updater");
    set_default_size(500, 80);
    try {
        set_icon_from_file(UtilesLauncher::getIconoFile("logoTarsenvik.png"));
    } catch (const Glib::Error&) {
        // Glib::FileError or Gdk::PixbufError: the window goes on without an icon.
    }
    dialogoSeleccionAct = new DialogoSeleccionAct();
    add(*dialogoSeleccionAct);
    // Enter updates: the default can only be taken once the button is inside the window.
    if (Gtk::Button* actualizar = dialogoSeleccionAct->getUpdateButton())
        actualizar->grab_default();
}

InterfazLauncher::~InterfazLauncher()
{
    delete dialogoActualizacion;
    delete dialogoSeleccionAct;
}

DialogoSeleccionAct* InterfazLauncher::getDialogoSeleccionAct() const
{
    return dialogoSeleccionAct;
}

DialogoActulizacion* InterfazLauncher::getDialogoActualizacion() const
{
    return dialogoActualizacion;
}

void InterfazLauncher::crearDialogoActuliazcion()
{
    if (dialogoActualizacion)
        return;
    remove();
    resize(400, 150);
    UtilesLauncher::actualizarInterfaz();
    dialogoActualizacion = new DialogoActulizacion(*this);
    add(*dialogoActualizacion);
    UtilesLauncher::actualizarInterfaz();
}

void InterfazLauncher::cerrarActualizador()
{
    UtilesLauncher::actualizarInterfaz();
    hide();
}
