#include "ui/UtilesLauncher.h"

#include "platform/Plataforma.h"

#include <giomm/file.h>
#include <glibmm/fileutils.h>
#include <glibmm/miscutils.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>

#include <iostream>
#include <locale>
#include <sstream>

namespace {

const char* const carpetaConfig = "tarsenviklauncher";
const char* const carpetaCache = "datosTarsenvik";

} // namespace

std::string UtilesLauncher::obtenerDireccionConfig()
{
    return Glib::build_filename(Glib::get_user_config_dir(), carpetaConfig);
}

std::string UtilesLauncher::direccionConfig(std::string nombre)
{
    return Glib::build_filename(obtenerDireccionConfig(), nombre);
}

std::string UtilesLauncher::obtenerDireccionCache()
{
    return Glib::build_filename(Glib::get_user_config_dir(), carpetaCache);
}

std::string UtilesLauncher::direccionCache(std::string nombre)
{
    return Glib::build_filename(obtenerDireccionCache(), nombre);
}

bool UtilesLauncher::borraFicheroSistema(std::string ruta)
{
    if (Glib::file_test(ruta, Glib::FILE_TEST_IS_DIR))
        return true;
    if (!Glib::file_test(ruta, Glib::FILE_TEST_IS_REGULAR))
        return true;
    try {
        Gio::File::create_for_path(ruta)->remove();
        return true;
    } catch (const Glib::Error&) {
        std::cout << "Error while deleting the file" << std::endl;
        return false;
    }
}

std::string UtilesLauncher::getDataDir()
{
    return Glib::build_filename(Plataforma::directorioInstalacion(), "src");
}

std::string UtilesLauncher::getGladeFile(std::string nombre)
{
    return Glib::build_filename(getDataDir(), "Glade", nombre);
}

std::string UtilesLauncher::getIconoFile(std::string nombre)
{
    return Glib::build_filename(getDataDir(), "Iconos", nombre);
}

Glib::RefPtr<Gnome::Glade::Xml> UtilesLauncher::cargarGlade(const std::string& fichero,
                                                            const char* raiz)
{
    try {
        return Gnome::Glade::Xml::create(fichero, raiz ? raiz : "", "");
    } catch (const Glib::Exception& error) {
        // Gnome::Glade::XmlError for a missing or broken layout file.
        std::cerr << error.what() << std::endl;
    }
    return Glib::RefPtr<Gnome::Glade::Xml>();
}

std::string UtilesLauncher::converString(double valor)
{
    // The point stays a point whatever the user's locale.
    std::ostringstream texto;
    texto.imbue(std::locale::classic());
    texto << valor;
    return texto.str();
}

std::string UtilesLauncher::converString(int valor)
{
    std::ostringstream texto;
    texto.imbue(std::locale::classic());
    texto << valor;
    return texto.str();
}

void UtilesLauncher::actualizarInterfaz()
{
    while (Gtk::Main::events_pending())
        Gtk::Main::iteration(true);
}

void UtilesLauncher::dialogoError(std::string mensaje, std::string titulo)
{
    Gtk::MessageDialog dialogo(Glib::ustring(mensaje), false, Gtk::MESSAGE_ERROR,
                               Gtk::BUTTONS_CLOSE, false);
    try {
        dialogo.set_icon_from_file(getIconoFile("error.png"));
    } catch (const Glib::Error&) {
        // Without its icon the dialog still tells the user what happened.
    }
    dialogo.set_title(Glib::ustring(titulo));
    dialogo.run();
}
