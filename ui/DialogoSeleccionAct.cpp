#include "ui/DialogoSeleccionAct.h"

#include "ui/UtilesLauncher.h"

#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/textview.h>

DialogoSeleccionAct::DialogoSeleccionAct()
    : Gtk::HBox(false, 0),
      vboxRelease(nullptr),
      imageLogo(nullptr),
      updateButton(nullptr),
      remindLaterButton(nullptr),
      skipVersionButton(nullptr),
      textViewDescripcion(nullptr)
{
    InicializarGlade();
    if (imageLogo)
        imageLogo->set(UtilesLauncher::getIconoFile("logoTarsenvik.png"));
    if (vboxRelease)
        add(*vboxRelease);
    show_all();
    // The main action answers Enter and the keyboard from the first moment.
    if (updateButton) {
        updateButton->set_flags(Gtk::CAN_DEFAULT);
        updateButton->grab_focus();
    }
}

DialogoSeleccionAct::~DialogoSeleccionAct() = default;

void DialogoSeleccionAct::InicializarGlade()
{
    UtilesLauncher::getWidgetGlade(UtilesLauncher::getGladeFile("DialogoNotasActualiza.glade"),
                                   "vboxRelease", "vboxRelease", &vboxRelease, "ImageLogoT",
                                   &imageLogo, "updateBotonT", &updateButton, "remindLaterT",
                                   &remindLaterButton, "skipVersionT", &skipVersionButton,
                                   "notesVersionT", &textViewDescripcion, nullptr);
}

Gtk::Button* DialogoSeleccionAct::getUpdateButton() const { return updateButton; }
Gtk::Button* DialogoSeleccionAct::getRemindLaterButton() const { return remindLaterButton; }
Gtk::Button* DialogoSeleccionAct::getSkipVersionButton() const { return skipVersionButton; }
Gtk::TextView* DialogoSeleccionAct::getTextViewDescripcion() const { return textViewDescripcion; }
