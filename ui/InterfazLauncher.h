#pragma once

#include <gtkmm/window.h>

class DialogoActulizacion;
class DialogoSeleccionAct;

/// The launcher's only window. Shows the release offer panel, and once the
/// user updates, the download progress panel in its place. Owns both panels.
class InterfazLauncher : public Gtk::Window {
public:
    /// Builds the window with the offer panel inside; does not show it.
    InterfazLauncher();
    ~InterfazLauncher() override;

    DialogoSeleccionAct* getDialogoSeleccionAct() const;
    /// Null until crearDialogoActuliazcion.
    DialogoActulizacion* getDialogoActualizacion() const;

    /// Takes the offer panel out (keeping it), resizes to 400 x 150 and shows
    /// a new progress panel.
    void crearDialogoActuliazcion();
    /// Runs pending events and hides the window, which ends the main loop.
    void cerrarActualizador();

private:
    DialogoActulizacion* dialogoActualizacion;
    DialogoSeleccionAct* dialogoSeleccionAct;
};
