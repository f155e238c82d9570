#pragma once

#include <gtkmm/box.h>

#include <string>

class InterfazLauncher;

namespace Gtk {
class Button;
class Label;
class ProgressBar;
} // namespace Gtk

/// The download progress panel: progress bar with percentage, speed, amount
/// of the current file and file counter; its close button becomes active once
/// the update is complete. Built from "DialogoActualizacion.glade"; widgets
/// missing from the layout stay null and are skipped.
class DialogoActulizacion : public Gtk::HBox {
public:
    explicit DialogoActulizacion(InterfazLauncher& ventana);
    ~DialogoActulizacion() override;

    void InicializarGlade();

    /// Fraction received, 0 to 1.
    void actualizaEstado(double fraccion);
    /// Speed in KB per second (1 KB = 1024 bytes).
    void actualizaVelocidad(double kbPorSegundo);
    /// Amount received and total of the current file, both in KB.
    void actualizaInfoDescarga(double recibido, double total);
    /// File `numero` (counted from 1) of `total`.
    void actualizaNumFicheros(int numero, int total);
    void FinalizaDescarga();
    void setActiveCerrar();

    /// The texts the panel shows for the given figures.
    static std::string textoEstado(double fraccion);
    static std::string textoVelocidad(double kbPorSegundo);
    static std::string textoInfoDescarga(double recibido, double total);
    static std::string textoNumFicheros(int numero, int total);

private:
    // Widgets of the layout tree; they belong to the panel as its descendants.
    Gtk::Widget* boxActualizador;
    Gtk::Button* botonCerrar;
    Gtk::Label* infoDescarga;
    Gtk::Label* velocidadDesc;
    Gtk::Label* numFicheros;
    Gtk::ProgressBar* barraProgreso;
    InterfazLauncher& ventana;
};
