// Menu: a menu resource as a table (popups of command items, separators and
// submenus), and the menu instance a window shows, whose items can be
// disabled and whose submenus the program fills.
//
// The program's own menus are its resources; the framework only loads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brellin {

enum class MenuItemKind : std::uint8_t { Command, Separator, Submenu };

// One row of the resource table.
struct MenuItemTemplate {
    MenuItemKind kind;
    std::uint16_t id;  // 0 for separators and the submenu
    const char* text;  // null for separators
    // A submenu's items as loaded, before the program fills it.
    const MenuItemTemplate* submenu = nullptr;
    int submenuCount = 0;
};

struct MenuPopupTemplate {
    const char* name;
    const MenuItemTemplate* items;
    int itemCount;
};

// A menu resource: its popups, top to bottom.
struct MenuTemplate {
    std::uint16_t id;
    const MenuPopupTemplate* popups;
    int popupCount;
};

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

// A loaded menu (LoadMenuA): the popups with their items enabled and the
// submenus holding the items of their table.
class Menu {
public:
    explicit Menu(const MenuTemplate& table);

    int popupCount() const { return static_cast<int>(popups.size()); }
    MenuPopup& popup(int index) { return popups[static_cast<std::size_t>(index)]; }
    const MenuPopup& popup(int index) const { return popups[static_cast<std::size_t>(index)]; }

    // EnableMenuItem by command in every popup.
    void enableCommand(std::uint16_t id, bool enabled);
    // Replaces the items of the submenu of every popup (its first one).
    void setRecentItems(const std::vector<MenuItem>& items);

private:
    std::vector<MenuPopup> popups;
};

}  // namespace brellin
