// The control identifiers and the template tables of the file dialogs: the
// file browser in open mode (template 102) and save mode (112), the play-list
// dialog (113) and the File Information dialog (115).
#pragma once

#include <cstdint>

#include "ui/framework/DialogTemplate.h"
#include "ui/window/Resources.h"

namespace brellin {

// The private message the file dialogs post to themselves from
// onInitDialog: fill the list once the dialog is on the screen.
constexpr std::uint32_t WM_DIALOG_REFRESH = 0x8000;

// File browser (102, 112).
constexpr int IDC_BROWSER_NAME = 1001;    // edit: the typed or chosen name
constexpr int IDC_FILE_LIST = 1002;       // list view of the browser and the play-list dialog
constexpr int IDC_BROWSER_NEW = 108;      // "NEW" (open mode); "ADD" and "Ok" are IDOK
constexpr int IDC_BROWSER_FOLDER = 1040;  // static: the folder the list shows

// Play-list dialog (113).
constexpr int IDC_PLAYLIST_DEL = 1015;
constexpr int IDC_PLAYLIST_CHECK = 1016;
constexpr int IDC_PLAYLIST_INFO = 1017;
constexpr int IDC_PLAYLIST_UP = 1018;
constexpr int IDC_PLAYLIST_DOWN = 1019;
constexpr int IDC_PLAYLIST_TITLE = 1029;  // read-only edit: the selected file's title

// File Information dialog (115).
constexpr int IDC_INFO_FILE_NAME = 1001;
constexpr int IDC_INFO_TITLE = 1017;
constexpr int IDC_INFO_COPYRIGHT = 1003;
constexpr int IDC_INFO_SIZE = 1004;
constexpr int IDC_INFO_POSITION = 1027;  // right-aligned static text "%d/%d"

// List-view style of our own: the selection stays visible while the list
// view does not have the focus (LVS_SHOWSELALWAYS).
constexpr std::uint32_t LISTVIEW_SHOW_SELECTION_ALWAYS = 0x1000u;

// The four templates, in the registry from then on (idempotent): for opening
// these dialogs without the main window, whose registrations of the commands
// bring their templates along.
void registerFileDialogTemplates();

const DialogTemplate& openFileTemplate();
const DialogTemplate& saveFileTemplate();
const DialogTemplate& playListTemplate();
const DialogTemplate& fileInformationTemplate();

}  // namespace brellin
