// Menu: the main window's menu (resource 105) as a table, and the menu
// instance the window shows, whose items can be disabled and whose recent
// submenus the play list fills.
//
// Popup 0 is shown from the display window, popups 1 and 2 from the tray
// icon (1 while the window is hidden, 2 while it is shown). Each popup has
// the "Recently opened PlayList" submenu at position 6 (separators count).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/framework/Messages.h"

namespace brellin {

enum class MenuItemKind : std::uint8_t { Command, Separator, Submenu };

// One row of the resource table.
struct MenuItemTemplate {
    MenuItemKind kind;
    std::uint16_t id;  // 0 for separators and the submenu
    const char* text;  // null for separators
};

struct MenuPopupTemplate {
    const char* name;
    const MenuItemTemplate* items;
    int itemCount;
};

constexpr int MAIN_MENU_POPUP_COUNT = 3;
constexpr int RECENT_SUBMENU_POSITION = 6;

// Menu resource 105: the three popups, top to bottom.
const MenuPopupTemplate& mainMenuPopup(int index);

// A shown menu item: a command (possibly disabled), a separator, or a submenu.
struct MenuItem {
    MenuItemKind kind = MenuItemKind::Command;
    std::uint16_t id = 0;
    std::string text;
    bool enabled = true;
    std::vector<MenuItem> submenu;  // the items of a Submenu
};

struct MenuPopup {
    std::string name;
    std::vector<MenuItem> items;

    // The first command item with that id, here or in a submenu; null if none.
    MenuItem* find(std::uint16_t id);
    const MenuItem* find(std::uint16_t id) const;
};

// The loaded menu 105 (LoadMenuA): the popups with their items enabled and
// the recent submenus holding the placeholder 40018 "(Item)".
class Menu {
public:
    Menu();

    MenuPopup& popup(int index) { return popups[static_cast<std::size_t>(index)]; }
    const MenuPopup& popup(int index) const { return popups[static_cast<std::size_t>(index)]; }

    // EnableMenuItem by command in every popup.
    void enableCommand(std::uint16_t id, bool enabled);
    // Replaces the items of the recent submenu of every popup.
    void setRecentItems(const std::vector<MenuItem>& items);

private:
    std::array<MenuPopup, MAIN_MENU_POPUP_COUNT> popups;
};

}  // namespace brellin
