// The window, dialog and control wrappers over the headless dialog
// manager, and the folder chooser and string loader.
#include <gtest/gtest.h>

#include <functional>

#include "platform/ProcessFacts.h"
#include "platform/Testing.h"
#include "support/Exception.h"
#include "ui/BrowseForFolderDlg.h"
#include "ui/Dialog.h"
#include "ui/DlgCtrl.h"
#include "ui/Resources.h"
#include "ui/StringTableItem.h"

namespace t = ostrel::platform::testing;

namespace {

// Template 101 with a test's own handlers.
class CProbeDialog : public CDialog {
 public:
  CProbeDialog() : CDialog(101, nullptr) {}
  std::function<void(CProbeDialog&)> onInit;
  BOOL OnInitDialog() override {
    if (onInit) onInit(*this);
    return TRUE;
  }
  HWND Handle() const { return m_hWnd; }
};

std::wstring Message(const CException& e) { return e.GetMessage(); }

}  // namespace

TEST(WrappersTest, ControlsOverTheDialogManager) {
  t::ScriptDialogs([](HWND d) {
    CEdit edit;
    edit.Attach(d, 208);
    edit.Attach(d, 210);  // bound already: stays
    EXPECT_EQ(edit.GetHandle(), GetDlgItem(d, 208));
    const struct {
      const wchar_t* text;
      bool isSigned, isUnsigned;
      int value;
    } numbers[] = {{L"-5", true, false, -5},         {L" 42 ", true, true, 42},
                   {L"4294967295", false, true, -1}, {L"2147483648", false, true, INT32_MIN},
                   {L"12a", false, false, 0},        {L"", false, false, 0}};
    for (const auto& n : numbers) {
      edit.SetText(n.text);
      if (n.isSigned)
        EXPECT_EQ(edit.GetInt(), n.value) << n.text;
      else
        EXPECT_THROW(edit.GetInt(), CException) << n.text;
      if (n.isUnsigned)
        EXPECT_EQ(edit.GetUnsignedInt(), static_cast<UINT>(n.value)) << n.text;
      else
        EXPECT_THROW(edit.GetUnsignedInt(), CException) << n.text;
    }
    edit.SetText(L"-5");
    try {
      edit.GetUnsignedInt();
      ADD_FAILURE();
    } catch (const CException& e) {
      EXPECT_EQ(Message(e), L"Control does not contain a valid unsigned integer value");
    }
    edit.SetInt(-17);
    EXPECT_EQ(edit.GetText(), L"-17");
    edit.SetUnsignedInt(0xFFFFFFFFu);
    EXPECT_EQ(edit.GetText(), L"4294967295");
    edit.SetText(std::wstring(3000, L'x'));
    EXPECT_EQ(edit.GetText().size(), 2047u);

    CCheckBox box;
    box.Attach(d, 202);
    box.SetCheck(2);
    EXPECT_EQ(box.IsChecked(), 1u);
    box.SetCheck(0);
    EXPECT_EQ(box.IsChecked(), 0u);

    CComboBox unbound, list;
    EXPECT_EQ(unbound.AddString(L"x"), -1);
    EXPECT_EQ(unbound.GetCurSel(), -1);
    EXPECT_FALSE(unbound.Enable(false));
    list.Attach(d, 217);
    EXPECT_EQ(list.AddString(L"a"), 0);
    EXPECT_EQ(list.AddString(L"b"), 1);
    EXPECT_EQ(list.SetCurSel(1), 1);
    EXPECT_EQ(list.GetCurSel(), 1);
    EXPECT_EQ(list.SetCurSel(2), CB_ERR);
    EXPECT_EQ(list.GetCurSel(), -1);
    EXPECT_TRUE(list.Enable(false));
    EXPECT_FALSE(IsWindowEnabled(list.GetHandle()));
    EXPECT_FALSE(t::ChooseItem(d, 217, 0));  // a user cannot use a disabled list
  });
  CProbeDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  t::ScriptDialogs(nullptr);
}

TEST(WrappersTest, DialogBindsItselfAndWindowsDieWithIt) {
  HWND seen = nullptr;
  t::ScriptDialogs([&](HWND d) {
    seen = d;
    EXPECT_EQ(GetFocus(), GetDlgItem(d, 210));  // 208 was disabled at its start
    EXPECT_EQ(GetWindowLongPtrW(d, GWLP_USERDATA) != 0, true);
    EXPECT_EQ(SetTimer(d, 5, 10, nullptr), 5u);
    EXPECT_TRUE(t::Press(d, IDOK));
    EXPECT_FALSE(t::Press(d, IDCANCEL));  // ended: the user can do no more
  });
  CProbeDialog dialog;
  dialog.onInit = [](CProbeDialog& self) { EnableWindow(GetDlgItem(self.Handle(), 208), FALSE); };
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.Handle(), seen);
  EXPECT_FALSE(IsWindow(seen));
  EXPECT_FALSE(IsWindow(GetDlgItem(seen, 208)));
  EXPECT_EQ(SetTimer(seen, 5, 10, nullptr), 0u);

  // A failure inside the dialog leaves DoModal, and its windows go too.
  t::ScriptDialogs([](HWND) { ADD_FAILURE() << "never shown"; });
  CProbeDialog raising;
  raising.onInit = [](CProbeDialog&) { throw CException(L"raised", 0); };
  EXPECT_THROW(raising.DoModal(), CException);
  EXPECT_FALSE(IsWindow(raising.Handle()));
  EXPECT_EQ(GetActiveWindow(), nullptr);
  t::ScriptDialogs(nullptr);

  CWnd none;
  EXPECT_FALSE(none.Enable(true));
  EXPECT_EQ(none.OnMessage(WM_INITDIALOG, 0, 0), 0);
}

TEST(WrappersTest, StringsAndFolderChooser) {
  EXPECT_EQ(CStringTableItem::LoadResourceString(101), L"Hourly");
  try {
    CStringTableItem::LoadResourceString(999);
    ADD_FAILURE();
  } catch (const CException& e) {
    EXPECT_EQ(Message(e), L"unable to load string resource");
  }
  wchar_t small[4];
  EXPECT_EQ(LoadStringW(GetResourceInstance(), 102, small, 4), 3);
  EXPECT_EQ(std::wstring(small), L"Dai");

  CBrowseForFolderDlg chooser;
  t::ScriptFolderChoices({L"/srv/first", L""});
  EXPECT_EQ(chooser.Browse(nullptr, nullptr, L"t", BIF_RETURNONLYFSDIRS, nullptr, 0, 0), 1);
  EXPECT_EQ(chooser.GetFolderPath(), L"/srv/first");
  EXPECT_EQ(chooser.Browse(nullptr, nullptr, L"t", BIF_RETURNONLYFSDIRS, nullptr, 0, 0), 2);
  EXPECT_EQ(chooser.GetFolderPath(), L"/srv/first");
  // The drives folder is virtual: no path.
  LPITEMIDLIST drives = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives), S_OK);
  wchar_t path[MAX_PATH] = L"x";
  EXPECT_FALSE(SHGetPathFromIDListW(drives, path));
  EXPECT_EQ(path[0], 0);
  chooser.FreeItemIdList(drives);
  t::TakeFolderChooserCalls();
}
