#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/main.h>

#include <memory>

// GTK comes up when a display is there; tests that need one check for it.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<Gtk::Main> gtk;
    if (gtk_init_check(&argc, &argv))
        gtk.reset(new Gtk::Main(argc, argv));
    return RUN_ALL_TESTS();
}
