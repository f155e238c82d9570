#pragma once

#include <libglademm/xml.h>

#include <string>

namespace Gtk {
class Widget;
}

/// Static helpers shared by the whole launcher: the launcher's folders and data
/// files, widget loading from layout files, number formatting, the event pump
/// and the error dialog.
class UtilesLauncher {
public:
    UtilesLauncher() = delete;

    // Settings and cache folders under the user's configuration folder.
    static std::string obtenerDireccionConfig();
    static std::string direccionConfig(std::string nombre);
    static std::string obtenerDireccionCache();
    static std::string direccionCache(std::string nombre);
    /// False only when an existing regular file could not be deleted.
    static bool borraFicheroSistema(std::string ruta);

    // The data folder "src" inside the installation folder.
    static std::string getDataDir();
    static std::string getGladeFile(std::string nombre);
    static std::string getIconoFile(std::string nombre);

    /// Loads the subtree rooted at `raiz` from a layout file and fills the
    /// caller's pointers: pairs of a widget name and the address of a pointer
    /// of the widget's class, ended by a null name. A layout that cannot be
    /// loaded is reported on standard error and leaves every pointer null.
    template <typename... Pares>
    static void getWidgetGlade(const std::string& fichero, const char* raiz, const char* nombre,
                               Pares... pares)
    {
        const Glib::RefPtr<Gnome::Glade::Xml> xml = cargarGlade(fichero, raiz);
        buscarWidgets(xml, nombre, pares...);
    }

    static std::string converString(double valor);
    static std::string converString(int valor);

    /// Runs pending window events; returns at once when none is pending.
    static void actualizarInterfaz();

    /// Shows a modal error dialog and returns once the user has closed it.
    static void dialogoError(std::string mensaje, std::string titulo);

private:
    static Glib::RefPtr<Gnome::Glade::Xml> cargarGlade(const std::string& fichero,
                                                       const char* raiz);

    static void buscarWidgets(const Glib::RefPtr<Gnome::Glade::Xml>&, const char*) {}
    static void buscarWidgets(const Glib::RefPtr<Gnome::Glade::Xml>&, std::nullptr_t) {}

    template <typename T, typename... Resto>
    static void buscarWidgets(const Glib::RefPtr<Gnome::Glade::Xml>& xml, const char* nombre,
                              T** destino, Resto... resto)
    {
        if (nombre == nullptr)
            return;
        *destino = nullptr;
        if (xml)
            xml->get_widget(nombre, *destino);
        buscarWidgets(xml, resto...);
    }
};
