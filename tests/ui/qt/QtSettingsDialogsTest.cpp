// The Configure and Play mode dialogs built by the Qt dialog host from their
// tables, on the offscreen platform: the widgets each control becomes, Enter
// and Esc through the dialog, the volume following the track bar's keys.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "tests/TempDir.h"
#include "tests/ui/qt/QtTestApp.h"
#include "ui/dialogs/ConfigureDialog.h"
#include "ui/dialogs/PlayModeDialog.h"
#include "ui/dialogs/SettingsTemplates.h"
#include "ui/qt/QtDialogHost.h"
#include "ui/qt/QtWindowSystem.h"

namespace brellin {
namespace {

using brellin::testing::TempDir;

// Runs `whileOpen` once the dialog is on the screen.
template <class Base>
class Scripted : public Base {
public:
    using Base::Base;
    std::function<void(QDialog*)> whileOpen;

    LResult onInitDialog() override {
        const LResult result = Base::onInitDialog();
        QDialog* widget = static_cast<QtDialogHost*>(this->hwnd)->widget();
        QTimer::singleShot(0, widget, [this, widget] { whileOpen(widget); });
        return result;
    }
};

QComboBox* comboAt(QDialog* dialog, int index) { return dialog->findChildren<QComboBox*>().value(index); }

TEST(QtSettingsDialogs, ConfigureIsBuiltFromItsTableEnterStoresAndEscDiscards) {
    brellin::testing::qtApp();
    registerSettingsTemplates();
    TempDir dir;
    for (const char* name : {"small2.brf", "small.brf"}) dir.write(name, "x");
    const std::string folder = dir.root.string() + "/";
    QtWindowSystem system;
    Settings settings;

    for (std::uint16_t layout : {IDD_CONFIGURE, IDD_CONFIGURE_SMALL}) {
        SCOPED_TRACE(layout);
        Scripted<ConfigureDialog> dialog(system, settings, folder);
        dialog.whileOpen = [](QDialog* widget) {
            // Eight lists, six check boxes, the reverb track bar, two buttons.
            ASSERT_EQ(widget->findChildren<QComboBox*>().size(), 8);
            EXPECT_EQ(widget->findChildren<QCheckBox*>().size(), 6);
            const auto sliders = widget->findChildren<QSlider*>();
            ASSERT_EQ(sliders.size(), 1);
            EXPECT_EQ(sliders[0]->minimum(), 1);
            EXPECT_EQ(sliders[0]->maximum(), 6);
            EXPECT_EQ(widget->findChildren<QPushButton*>().size(), 2);
            EXPECT_EQ(comboAt(widget, 0)->itemText(0), "11K");
            EXPECT_EQ(comboAt(widget, 5)->currentText(), "small.brf");
            EXPECT_EQ(comboAt(widget, 6)->currentText(), "Built-in synthesizer");
            auto* ok = qobject_cast<QPushButton*>(widget->focusWidget());
            ASSERT_NE(ok, nullptr);
            EXPECT_EQ(ok->text(), "OK");
            comboAt(widget, 0)->setCurrentIndex(2);
            QTest::keyClick(widget->focusWidget(), Qt::Key_Escape);
        };
        ASSERT_TRUE(dialog.doModal(nullptr, layout));
        EXPECT_EQ(settings.SampleRate, 1);
        EXPECT_FALSE(settings.engineSettingsChanged);
    }

    // A port chosen before that is not there now stays chosen.
    std::snprintf(settings.MidiOut, sizeof settings.MidiOut, "%s", "jack:unplugged:midi_in");
    Scripted<ConfigureDialog> dialog(system, settings, folder);
    dialog.whileOpen = [](QDialog* widget) {
        EXPECT_EQ(comboAt(widget, 6)->currentText(), "jack:unplugged:midi_in (not found)");
        comboAt(widget, 0)->setCurrentIndex(2);
        comboAt(widget, 5)->setCurrentIndex(1);
        QTest::keyClick(widget->focusWidget(), Qt::Key_Return);
    };
    dialog.doModal(nullptr, IDD_CONFIGURE);
    EXPECT_EQ(settings.SampleRate, 2);
    EXPECT_STREQ(settings.SoundFontName, "small2.brf");
    EXPECT_STREQ(settings.MidiOut, "jack:unplugged:midi_in");
    EXPECT_TRUE(settings.engineSettingsChanged);
}

TEST(QtSettingsDialogs, PlayModeVolumeFollowsTheTrackBarAndClosingApplies) {
    brellin::testing::qtApp();
    registerSettingsTemplates();
    TempDir dir;
    QtWindowSystem system;
    Settings settings;
    settings.Volume = 100;
    std::vector<std::int32_t> applied;
    {
        Scripted<PlayModeDialog> dialog(system, settings, dir.root.string() + "/",
                                        [&] { applied.push_back(settings.Volume); });
        dialog.whileOpen = [](QDialog* widget) {
            EXPECT_EQ(comboAt(widget, 0), widget->focusWidget());
            EXPECT_EQ(comboAt(widget, 0)->itemText(3), "Random after the 2nd");
            QSlider* volume = widget->findChildren<QSlider*>().value(0);
            ASSERT_NE(volume, nullptr);
            EXPECT_EQ(volume->maximum(), 128);
            volume->setFocus();
            QTest::keyClick(volume, Qt::Key_Right);
            QTest::keyClick(volume, Qt::Key_End);
            comboAt(widget, 2)->setCurrentIndex(1);
            QTest::keyClick(volume, Qt::Key_Escape);
        };
        dialog.doModal(nullptr, IDD_PLAY_MODE);
    }
    ASSERT_FALSE(applied.empty());
    EXPECT_NE(std::find(applied.begin(), applied.end(), 101), applied.end());
    EXPECT_EQ(applied.back(), 128);
    EXPECT_EQ(settings.Volume, 128);
    EXPECT_EQ(settings.TimerMode, 1);

    // Enter closes too (there is no OK button) and applies.
    Scripted<PlayModeDialog> dialog(system, settings, dir.root.string() + "/", nullptr);
    dialog.whileOpen = [](QDialog* widget) {
        comboAt(widget, 0)->setCurrentIndex(2);
        QTest::keyClick(widget->focusWidget(), Qt::Key_Return);
    };
    dialog.doModal(nullptr, IDD_PLAY_MODE);
    EXPECT_EQ(settings.PlayMode, 2);
    EXPECT_EQ(dialog.hwnd, nullptr);
}

}  // namespace
}  // namespace brellin
