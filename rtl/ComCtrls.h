// The common controls: a report-style list view (columns with headers, one
// row per item with a caption, cell texts and a data pointer the row does
// not own) and a tab control of pages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "StdCtrls.h"

using TSelectItemEvent = std::function<void(TObject* sender, int index, bool selected)>;

class TListView : public TControl {
public:
    using TControl::TControl;

    // Appends a column with its header caption and width in pixels.
    void AddColumn(const std::string& caption, int width);
    int ColumnCount() const;
    std::string ColumnCaption(int column) const;
    int ColumnWidth(int column) const;

    int Count() const;
    // Adds a row; a list with LVS_SORTASCENDING places it by its caption.
    // Returns the row's index.
    int AddItem(const std::string& caption, const std::vector<std::string>& cells, void* data);
    // The caption is column 0, the cells follow.
    std::string Cell(int index, int column) const;
    void* Data(int index) const;
    void Clear();

    // The first selected row, or -1.
    int Selected() const;
    void SetSelected(int index, bool selected);
    // The row whose data is that pointer, or -1.
    int IndexOfData(const void* data) const;

    void BeginUpdate();
    void EndUpdate();

    TSelectItemEvent OnSelectItem;  // a row was selected or deselected
    TNotifyEvent OnDblClick;        // anywhere in the list, on a row or not

protected:
    LRESULT NotifyEx(NMHDR* header) override;
};

// A tab control whose pages are groups of sibling controls: the controls of
// the active page are shown, those of the others hidden.
class TPageControl : public TControl {
public:
    using TControl::TControl;
    int AddPage(const std::string& caption, const std::vector<TControl*>& controls = {});
    int PageCount() const { return static_cast<int>(FPages.size()); }
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    TNotifyEvent OnChange;

    // Alt and the letter a page's caption marks with "&" select that page as
    // a click on its tab does; the focus, when it was on the page left, goes
    // to the tabs. False (the key is left to the page's own controls) when no
    // other page's caption marks the letter or the control is disabled.
    bool SelectByAccelerator(char key);

protected:
    LRESULT NotifyEx(NMHDR* header) override;

private:
    void ShowPage(int index);
    std::vector<std::vector<TControl*>> FPages;
    std::vector<std::string> FCaptions;
};
