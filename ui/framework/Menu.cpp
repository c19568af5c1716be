#include "ui/framework/Menu.h"

#include <utility>

namespace brellin {

namespace {

const MenuItem* findIn(const std::vector<MenuItem>& items, std::uint16_t id) {
    for (const MenuItem& item : items) {
        if (item.kind == MenuItemKind::Command && item.id == id) return &item;
        if (item.kind == MenuItemKind::Submenu) {
            if (const MenuItem* found = findIn(item.submenu, id)) return found;
        }
    }
    return nullptr;
}

MenuItem loadItem(const MenuItemTemplate& row) {
    MenuItem item;
    item.kind = row.kind;
    item.id = row.id;
    if (row.text) item.text = row.text;
    for (int i = 0; i < row.submenuCount; ++i) item.submenu.push_back(loadItem(row.submenu[i]));
    return item;
}

}  // namespace

MenuItem* MenuPopup::find(std::uint16_t id) { return const_cast<MenuItem*>(findIn(items, id)); }

const MenuItem* MenuPopup::find(std::uint16_t id) const { return findIn(items, id); }

Menu::Menu(const MenuTemplate& table) {
    for (int p = 0; p < table.popupCount; ++p) {
        const MenuPopupTemplate& rows = table.popups[p];
        MenuPopup shown;
        shown.name = rows.name;
        for (int i = 0; i < rows.itemCount; ++i) shown.items.push_back(loadItem(rows.items[i]));
        popups.push_back(std::move(shown));
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
        for (MenuItem& item : shown.items) {
            if (item.kind != MenuItemKind::Submenu) continue;
            item.submenu = items;
            break;
        }
    }
}

}  // namespace brellin
