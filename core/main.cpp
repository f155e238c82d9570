#include "core/NucleoLauncher.h"
#include "platform/Plataforma.h"
#include "ui/InterfazLauncher.h"

#include <gtk/gtk.h>
#include <gtkmm/main.h>

int main(int argc, char* argv[])
{
    // Without a display nothing can be offered: the application starts at once.
    // GTK's own options have been taken out of argv either way.
    if (!gtk_init_check(&argc, &argv)) {
        Plataforma::reemplazarProceso(Plataforma::buscarPrograma("tarsenvik.exe"), argv);
        return 0;
    }
    Gtk::Main kit(argc, argv, true);

    // Never deleted: the process ends by becoming the application.
    NucleoLauncher* nucleo = new NucleoLauncher();
    if (nucleo->comprobarNuevasActualizaciones())
        Gtk::Main::run(*nucleo->getInterfazLaunch());

    Plataforma::reemplazarProceso(Plataforma::buscarPrograma("tarsenvik.exe"), argv);
    return 0;
}
