#include "ui/dialogs/FileDialogTemplates.h"

#include "ui/framework/Messages.h"

namespace brellin {

namespace {

template <std::size_t N>
constexpr std::int32_t countOf(const ControlTemplate (&)[N]) {
    return static_cast<std::int32_t>(N);
}

constexpr std::uint32_t LIST_BOX_STYLE = STYLE_BORDER | STYLE_TABSTOP | LISTVIEW_SMALL_ICONS;

// Template 102: the folder's path over its list, the name under it, ADD and
// NEW at the bottom right. Several items selectable, the selection always shown.
constexpr ControlTemplate OPEN_CONTROLS[] = {
    {ControlClass::Static, IDC_BROWSER_FOLDER, "", {7, 4, 186, 9}, 0},
    {ControlClass::ListView,
     IDC_FILE_LIST,
     "",
     {7, 15, 186, 120},
     LIST_BOX_STYLE | LIST_MULTIPLE_SELECTION | LISTVIEW_SHOW_SELECTION_ALWAYS},
    {ControlClass::Edit, IDC_BROWSER_NAME, "", {7, 140, 186, 12}, STYLE_BORDER | STYLE_TABSTOP | EDIT_AUTOHSCROLL},
    {ControlClass::DefButton, IDOK, "ADD", {87, 158, 50, 14}, STYLE_TABSTOP},
    {ControlClass::Button, IDC_BROWSER_NEW, "NEW", {143, 158, 50, 14}, STYLE_TABSTOP},
};

constexpr DialogTemplate OPEN_TEMPLATE{IDD_OPEN_FILE, "Open file (MID/BRL)", {0, 0, 200, 179}, "MS Gothic", 9,
                                       OPEN_CONTROLS, countOf(OPEN_CONTROLS)};

// Template 112: one item selectable; Ok where the open dialog has NEW.
constexpr ControlTemplate SAVE_CONTROLS[] = {
    {ControlClass::Static, IDC_BROWSER_FOLDER, "", {7, 4, 186, 9}, 0},
    {ControlClass::ListView, IDC_FILE_LIST, "", {7, 15, 186, 120}, LIST_BOX_STYLE},
    {ControlClass::Edit, IDC_BROWSER_NAME, "", {7, 140, 186, 12}, STYLE_BORDER | STYLE_TABSTOP | EDIT_AUTOHSCROLL},
    {ControlClass::DefButton, IDOK, "Ok", {143, 158, 50, 14}, STYLE_TABSTOP},
};

constexpr DialogTemplate SAVE_TEMPLATE{IDD_SAVE_FILE, "Save play list file(*.BRL)", {0, 0, 200, 179}, "MS Gothic", 9,
                                       SAVE_CONTROLS, countOf(SAVE_CONTROLS)};

// Template 113: the buttons in a column at the right of the list, the title
// line under it.
constexpr ControlTemplate PLAY_LIST_CONTROLS[] = {
    {ControlClass::Button, IDC_PLAYLIST_UP, "Up", {173, 7, 40, 14}, STYLE_TABSTOP},
    {ControlClass::Button, IDC_PLAYLIST_DOWN, "Down", {173, 25, 40, 14}, STYLE_TABSTOP},
    {ControlClass::Button, IDC_PLAYLIST_INFO, "Info", {173, 49, 40, 14}, STYLE_TABSTOP},
    {ControlClass::Button, IDC_PLAYLIST_DEL, "Del", {173, 73, 40, 14}, STYLE_TABSTOP},
    {ControlClass::Button, IDC_PLAYLIST_CHECK, "Check", {173, 91, 40, 14}, STYLE_TABSTOP},
    {ControlClass::ListView, IDC_FILE_LIST, "", {7, 7, 160, 146}, LIST_BOX_STYLE | LIST_MULTIPLE_SELECTION},
    {ControlClass::Edit, IDC_PLAYLIST_TITLE, "", {7, 158, 206, 12}, STYLE_BORDER | EDIT_READONLY | EDIT_AUTOHSCROLL},
};

constexpr DialogTemplate PLAY_LIST_DIALOG_TEMPLATE{
    IDD_PLAYLIST, "Play list", {0, 0, 220, 177}, "MS Gothic", 9, PLAY_LIST_CONTROLS, countOf(PLAY_LIST_CONTROLS)};

// Template 115: four labelled read-only fields and the list position at the
// bottom right; no buttons (the close box and Esc close it). The fields are
// wide enough for a full path of a usual depth or a long title; a longer text
// scrolls in its field and shows whole in the field's tooltip.
constexpr std::uint32_t INFO_FIELD = STYLE_BORDER | EDIT_READONLY | EDIT_AUTOHSCROLL | STYLE_TABSTOP;
constexpr ControlTemplate INFORMATION_CONTROLS[] = {
    {ControlClass::Static, IDC_STATIC, "File name", {4, 8, 36, 8}, 0},
    {ControlClass::Edit, IDC_INFO_FILE_NAME, "", {42, 6, 235, 12}, INFO_FIELD},
    {ControlClass::Static, IDC_STATIC, "Title", {4, 24, 36, 8}, 0},
    {ControlClass::Edit, IDC_INFO_TITLE, "", {42, 22, 235, 12}, INFO_FIELD},
    {ControlClass::Static, IDC_STATIC, "Copyright", {4, 40, 36, 8}, 0},
    {ControlClass::Edit, IDC_INFO_COPYRIGHT, "", {42, 38, 235, 12}, INFO_FIELD},
    {ControlClass::Static, IDC_STATIC, "File size", {4, 56, 36, 8}, 0},
    {ControlClass::Edit, IDC_INFO_SIZE, "", {42, 54, 235, 12}, INFO_FIELD},
    {ControlClass::StaticRight, IDC_INFO_POSITION, "0/0", {227, 76, 50, 8}, 0},
};

constexpr DialogTemplate INFORMATION_TEMPLATE{
    IDD_FILE_INFORMATION, "File Information",           {0, 0, 281, 97}, "MS Gothic", 9,
    INFORMATION_CONTROLS, countOf(INFORMATION_CONTROLS)};

}  // namespace

const DialogTemplate& openFileTemplate() { return OPEN_TEMPLATE; }
const DialogTemplate& saveFileTemplate() { return SAVE_TEMPLATE; }
const DialogTemplate& playListTemplate() { return PLAY_LIST_DIALOG_TEMPLATE; }
const DialogTemplate& fileInformationTemplate() { return INFORMATION_TEMPLATE; }

void registerFileDialogTemplates() {
    registerDialogTemplate(OPEN_TEMPLATE);
    registerDialogTemplate(SAVE_TEMPLATE);
    registerDialogTemplate(PLAY_LIST_DIALOG_TEMPLATE);
    registerDialogTemplate(INFORMATION_TEMPLATE);
}

}  // namespace brellin
