#include "ComCtrls.h"

#include <commctrl.h>

void TListView::AddColumn(const std::string& caption, int width) {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    std::string text = caption;
    col.pszText = &text[0];
    col.cx = width;
    int index = ColumnCount();
    col.iSubItem = index;
    SendMessageA(Handle(), LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&col));
}

int TListView::ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(SendMessageA(Handle(), LVM_GETHEADER, 0, 0));
    return header != nullptr ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string TListView::ColumnCaption(int column) const {
    char buf[256] = {};
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT;
    col.pszText = buf;
    col.cchTextMax = sizeof buf;
    SendMessageA(Handle(), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
    return buf;
}

int TListView::ColumnWidth(int column) const {
    return static_cast<int>(SendMessageA(Handle(), LVM_GETCOLUMNWIDTH, column, 0));
}

int TListView::Count() const {
    return static_cast<int>(SendMessageA(Handle(), LVM_GETITEMCOUNT, 0, 0));
}

int TListView::AddItem(const std::string& caption, const std::vector<std::string>& cells,
                       void* data) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = Count();
    std::string text = caption;
    item.pszText = &text[0];
    item.lParam = reinterpret_cast<LPARAM>(data);
    int index = static_cast<int>(
        SendMessageA(Handle(), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0)
        return index;
    for (size_t i = 0; i < cells.size(); ++i) {
        LVITEMA sub{};
        sub.iSubItem = static_cast<int>(i + 1);
        std::string cell = cells[i];
        sub.pszText = &cell[0];
        SendMessageA(Handle(), LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&sub));
    }
    return index;
}

std::string TListView::Cell(int index, int column) const {
    char buf[1024] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    SendMessageA(Handle(), LVM_GETITEMTEXTA, index, reinterpret_cast<LPARAM>(&item));
    return buf;
}

void* TListView::Data(int index) const {
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!SendMessageA(Handle(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<void*>(item.lParam);
}

void TListView::Clear() { SendMessageA(Handle(), LVM_DELETEALLITEMS, 0, 0); }

int TListView::Selected() const {
    return static_cast<int>(SendMessageA(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         LVNI_SELECTED));
}

void TListView::SetSelected(int index, bool selected) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED;
    item.state = selected ? LVIS_SELECTED : 0;
    SendMessageA(Handle(), LVM_SETITEMSTATE, index, reinterpret_cast<LPARAM>(&item));
}

int TListView::IndexOfData(const void* data) const {
    for (int i = 0, n = Count(); i < n; ++i)
        if (Data(i) == data)
            return i;
    return -1;
}

void TListView::BeginUpdate() { SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0); }

void TListView::EndUpdate() {
    SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Handle(), nullptr, TRUE);
}

LRESULT TListView::NotifyEx(NMHDR* header) {
    if (header->code == LVN_ITEMCHANGED) {
        auto* nm = reinterpret_cast<NMLISTVIEW*>(header);
        if ((nm->uChanged & LVIF_STATE) && nm->iItem >= 0 &&
            ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED) && OnSelectItem)
            OnSelectItem(this, nm->iItem, (nm->uNewState & LVIS_SELECTED) != 0);
    } else if (header->code == static_cast<UINT>(NM_DBLCLK)) {
        if (OnDblClick)
            OnDblClick(this);
    }
    return 0;
}
