#include "ui/framework/Menu.h"

namespace brellin {

namespace {

constexpr MenuItemTemplate SEPARATOR{MenuItemKind::Separator, 0, nullptr};
constexpr MenuItemTemplate RECENT_SUBMENU{MenuItemKind::Submenu, 0, "Recently opened PlayList"};

constexpr MenuItemTemplate MAIN_MENU_ITEMS[] = {
    {MenuItemKind::Command, IDM_HIDE_WINDOW, "Undisplay window"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_VERSION, "Version info. ...."},
    {MenuItemKind::Command, IDM_CONFIGURE, "Configure..."},
    {MenuItemKind::Command, IDM_PLAY_MODE, "Play mode..."},
    SEPARATOR,
    RECENT_SUBMENU,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    {MenuItemKind::Command, IDM_SAVE_PLAYLIST, "Save play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
};

constexpr MenuItemTemplate SUB_MENU_1_ITEMS[] = {
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_NEXT, "Next"},
    {MenuItemKind::Command, IDM_PREVIOUS, "Previous"},
    {MenuItemKind::Command, IDM_PLAY_STOP, "Play/Stop"},
    SEPARATOR,
    RECENT_SUBMENU,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_SHOW_WINDOW, "Display window"},
};

constexpr MenuItemTemplate SUB_MENU_2_ITEMS[] = {
    {MenuItemKind::Command, IDM_EXIT, "Exit"},
    SEPARATOR,
    {MenuItemKind::Command, IDM_NEXT, "Next"},
    {MenuItemKind::Command, IDM_PREVIOUS, "Previous"},
    {MenuItemKind::Command, IDM_PLAY_STOP, "Play/Stop"},
    SEPARATOR,
    RECENT_SUBMENU,
    {MenuItemKind::Command, IDM_OPEN_FILES, "Open files..."},
    {MenuItemKind::Command, IDM_PLAYLIST, "Display play list..."},
    SEPARATOR,
    {MenuItemKind::Command, IDM_HIDE_WINDOW, "Undisplay window"},
};

template <std::size_t N>
constexpr MenuPopupTemplate popupOf(const char* name, const MenuItemTemplate (&items)[N]) {
    return MenuPopupTemplate{name, items, static_cast<int>(N)};
}

const MenuPopupTemplate MENU_105[MAIN_MENU_POPUP_COUNT] = {
    popupOf("MainMenu", MAIN_MENU_ITEMS),
    popupOf("SubMenu1", SUB_MENU_1_ITEMS),
    popupOf("SubMenu2", SUB_MENU_2_ITEMS),
};

const MenuItem* findIn(const std::vector<MenuItem>& items, std::uint16_t id) {
    for (const MenuItem& item : items) {
        if (item.kind == MenuItemKind::Command && item.id == id) return &item;
        if (item.kind == MenuItemKind::Submenu) {
            if (const MenuItem* found = findIn(item.submenu, id)) return found;
        }
    }
    return nullptr;
}

}  // namespace

const MenuPopupTemplate& mainMenuPopup(int index) {
    if (index < 0 || index >= MAIN_MENU_POPUP_COUNT) index = 0;
    return MENU_105[index];
}

MenuItem* MenuPopup::find(std::uint16_t id) { return const_cast<MenuItem*>(findIn(items, id)); }

const MenuItem* MenuPopup::find(std::uint16_t id) const { return findIn(items, id); }

Menu::Menu() {
    for (int p = 0; p < MAIN_MENU_POPUP_COUNT; ++p) {
        const MenuPopupTemplate& table = MENU_105[p];
        MenuPopup& shown = popups[static_cast<std::size_t>(p)];
        shown.name = table.name;
        for (int i = 0; i < table.itemCount; ++i) {
            const MenuItemTemplate& row = table.items[i];
            MenuItem item;
            item.kind = row.kind;
            item.id = row.id;
            if (row.text) item.text = row.text;
            if (row.kind == MenuItemKind::Submenu) {
                item.submenu.push_back(MenuItem{MenuItemKind::Command, IDM_RECENT_PLACEHOLDER, "(Item)", true, {}});
            }
            shown.items.push_back(std::move(item));
        }
    }
}

void Menu::enableCommand(std::uint16_t id, bool enabled) {
    for (MenuPopup& shown : popups) {
        for (MenuItem& item : shown.items) {
            if (item.kind == MenuItemKind::Command && item.id == id) item.enabled = enabled;
        }
    }
}

void Menu::setRecentItems(const std::vector<MenuItem>& items) {
    for (MenuPopup& shown : popups) {
        MenuItem& submenu = shown.items[RECENT_SUBMENU_POSITION];
        submenu.submenu = items;
    }
}

}  // namespace brellin
