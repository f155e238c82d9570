#include "ui/DialogoActulizacion.h"

#include "ui/InterfazLauncher.h"
#include "ui/UtilesLauncher.h"

#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>

namespace {

// The first `n` characters of the rendering of `valor`. Values so small that
// they would render in exponent form read as 0.
std::string primeros(double valor, std::size_t n)
{
    std::string texto = UtilesLauncher::converString(valor);
    if (texto.find('e') != std::string::npos && valor < 1 && valor > -1)
        texto = "0";
    return texto.substr(0, n);
}

} // namespace

DialogoActulizacion::DialogoActulizacion(InterfazLauncher& ventana)
    : Gtk::HBox(false, 0),
      boxActualizador(nullptr),
      botonCerrar(nullptr),
      infoDescarga(nullptr),
      velocidadDesc(nullptr),
      numFicheros(nullptr),
      barraProgreso(nullptr),
      ventana(ventana)
{
    InicializarGlade();
    if (boxActualizador)
        add(*boxActualizador);
    show_all();
}

DialogoActulizacion::~DialogoActulizacion() = default;

void DialogoActulizacion::InicializarGlade()
{
    UtilesLauncher::getWidgetGlade(UtilesLauncher::getGladeFile("DialogoActualizacion.glade"),
                                   "BoxActualizador", "BoxActualizador", &boxActualizador,
                                   "BotonCerrarA", &botonCerrar, "InfoDescargaA", &infoDescarga,
                                   "velocidadDesc", &velocidadDesc, "NumFicherosA", &numFicheros,
                                   "barraProgreso", &barraProgreso, nullptr);
}

std::string DialogoActulizacion::textoEstado(double fraccion)
{
    const double porcentaje = fraccion * 100;
    return primeros(porcentaje, porcentaje < 10 ? 4 : 5) + " %";
}

std::string DialogoActulizacion::textoVelocidad(double kb)
{
    // The switch to MB/s comes at 900 so that the text never needs four digits.
    if (kb >= 900)
        return "Speed: " + primeros(kb / 1024, 4) + " MB/s";
    return "Speed: " + primeros(kb, 3) + " KB/s";
}

std::string DialogoActulizacion::textoInfoDescarga(double recibido, double total)
{
    // The unit follows the total; a total of 1000 KB would not fit three characters.
    if (total >= 1000)
        return "Downloaded " + primeros(recibido / 1024, 4) + " from " + primeros(total / 1024, 4)
               + " MB";
    return "Downloaded " + primeros(recibido, 3) + " from " + primeros(total, 3) + " KB";
}

std::string DialogoActulizacion::textoNumFicheros(int numero, int total)
{
    return "Downloading " + UtilesLauncher::converString(numero) + " from "
           + UtilesLauncher::converString(total);
}

void DialogoActulizacion::actualizaEstado(double fraccion)
{
    if (!barraProgreso)
        return;
    barraProgreso->set_text(textoEstado(fraccion));
    barraProgreso->set_fraction(fraccion);
}

void DialogoActulizacion::actualizaVelocidad(double kb)
{
    if (velocidadDesc)
        velocidadDesc->set_text(textoVelocidad(kb));
}

void DialogoActulizacion::actualizaInfoDescarga(double recibido, double total)
{
    if (infoDescarga)
        infoDescarga->set_text(textoInfoDescarga(recibido, total));
}

void DialogoActulizacion::actualizaNumFicheros(int numero, int total)
{
    if (numFicheros)
        numFicheros->set_text(textoNumFicheros(numero, total));
}

void DialogoActulizacion::FinalizaDescarga()
{
    if (numFicheros)
        numFicheros->set_alignment(0.5, 0.5);
    if (infoDescarga)
        infoDescarga->set_text("");
    if (numFicheros)
        numFicheros->set_text("System updated correctly");
    if (velocidadDesc)
        velocidadDesc->set_text("");
}

void DialogoActulizacion::setActiveCerrar()
{
    // Without its close button the user could not leave the window: close it now.
    if (!botonCerrar) {
        ventana.cerrarActualizador();
        return;
    }
    botonCerrar->set_sensitive(true);
    botonCerrar->signal_clicked().connect(
        sigc::mem_fun(ventana, &InterfazLauncher::cerrarActualizador));
    botonCerrar->grab_focus();
}
