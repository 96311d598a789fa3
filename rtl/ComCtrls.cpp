#include "ComCtrls.h"

#include <commctrl.h>

#include "SysUtils.h"

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

// ---- TPageControl ---------------------------------------------------------------

int TPageControl::AddPage(const std::string& caption, const std::vector<TControl*>& controls) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    std::string text = caption;
    item.pszText = &text[0];
    int index = static_cast<int>(FPages.size());
    SendMessageA(Handle(), TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item));
    FPages.push_back(controls);
    FCaptions.push_back(caption);
    ShowPage(ActivePageIndex() < 0 ? 0 : ActivePageIndex());
    return index;
}

int TPageControl::ActivePageIndex() const {
    return static_cast<int>(SendMessageA(Handle(), TCM_GETCURSEL, 0, 0));
}

void TPageControl::SetActivePageIndex(int index) {
    if (index < 0 || index >= PageCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    SendMessageA(Handle(), TCM_SETCURSEL, index, 0);
    ShowPage(index);
}

void TPageControl::ShowPage(int index) {
    for (int i = 0; i < PageCount(); ++i)
        if (i != index)
            for (TControl* c : FPages[i])
                c->SetVisible(false);
    if (index >= 0 && index < PageCount())
        for (TControl* c : FPages[index])
            c->SetVisible(true);
    // A group box paints its frame but not its inside, and the tab control,
    // clipped by the controls above it, does not paint under them: inside a
    // group box of the new page the screen would keep whatever the page
    // before left there (the tab control's own background between two of
    // its group boxes). The form repaints the pages' area from its own
    // background up, as when it first appears.
    RECT area;
    GetWindowRect(Handle(), &area);
    MapWindowPoints(nullptr, Form()->Handle(), reinterpret_cast<POINT*>(&area), 2);
    RedrawWindow(Form()->Handle(), &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool TPageControl::SelectByAccelerator(char key) {
    if (!Enabled() || !IsWindowVisible(Handle()))
        return false;
    CharUpperBuffA(&key, 1);
    for (int i = 0; i < PageCount(); ++i) {
        const std::string& caption = FCaptions[i];
        size_t amp = 0;
        while ((amp = caption.find('&', amp)) != std::string::npos && amp + 1 < caption.size() &&
               caption[amp + 1] == '&')
            amp += 2;  // "&&" shows one ampersand
        if (amp == std::string::npos || amp + 1 >= caption.size())
            continue;
        char marked = caption[amp + 1];
        CharUpperBuffA(&marked, 1);
        if (marked != key || i == ActivePageIndex())
            continue;
        int old = ActivePageIndex();
        bool focusLeaves = false;
        if (old >= 0)
            for (TControl* c : FPages[old])
                focusLeaves = focusLeaves || c->Focused();
        SetActivePageIndex(i);
        if (focusLeaves)
            SendMessageA(Form()->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Handle()), TRUE);
        if (OnChange)
            OnChange(this);
        return true;
    }
    return false;
}

LRESULT TPageControl::NotifyEx(NMHDR* header) {
    if (header->code == static_cast<UINT>(TCN_SELCHANGE)) {
        ShowPage(ActivePageIndex());
        if (OnChange)
            OnChange(this);
    }
    return 0;
}
