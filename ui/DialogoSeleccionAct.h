#pragma once

#include <gtkmm/box.h>

namespace Gtk {
class Button;
class Image;
class TextView;
class VBox;
} // namespace Gtk

/// The release offer panel: the logo, the release notes and the three choices.
/// A passive view built from "DialogoNotasActualiza.glade"; the controller
/// connects the buttons and fills the notes. Widgets missing from the layout
/// stay null.
class DialogoSeleccionAct : public Gtk::HBox {
public:
    DialogoSeleccionAct();
    ~DialogoSeleccionAct() override;

    void InicializarGlade();

    Gtk::Button* getUpdateButton() const;
    Gtk::Button* getRemindLaterButton() const;
    Gtk::Button* getSkipVersionButton() const;
    Gtk::TextView* getTextViewDescripcion() const;

private:
    // Widgets of the layout tree; they belong to the panel as its descendants.
    Gtk::VBox* vboxRelease;
    Gtk::Image* imageLogo;
    Gtk::Button* updateButton;
    Gtk::Button* remindLaterButton;
    Gtk::Button* skipVersionButton;
    Gtk::TextView* textViewDescripcion;
};
