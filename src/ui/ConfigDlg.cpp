#include "ui/ConfigDlg.h"

#include <memory>

#include "settings/Settings.h"
#include "support/Format.h"
#include "support/KernelObjects.h"
#include "ui/BrowseForFolderDlg.h"
#include "ui/Resources.h"
#include "ui/StringTableItem.h"
#include "update/RemoteMD.h"

namespace {

constexpr UINT_PTR kRefreshTimerId = 1;
constexpr UINT kRefreshMs = 1000;
const wchar_t kManualUpdateEvent[] = L"_OSTREL_ANTIPHISH_BHO_MNULUPD_EVENT";
const wchar_t kDatabaseFileName[] = L"zortldbf.dat";
constexpr std::size_t kMaxPath = 260;  // with the terminator

std::wstring LoadString(UINT id) { return CStringTableItem::LoadResourceString(id); }

}  // namespace

using namespace ConfigDlgIds;

CConfigDlg::CConfigDlg(HWND owner)
    : CDialog(kTemplate, owner),
      m_refreshTimer(0),
      m_greyRedirectUri(CSettings::DefaultGreyRedirectUri),
      m_blackRedirectUri(CSettings::DefaultBlackRedirectUri),
      m_dbRemoteUpdUri(CSettings::DefaultDBRemoteUpdUri),
      m_mdRemoteUri(CSettings::DefaultMDRemoteUri),
      m_bhoRemoteUpdUri(CSettings::DefaultBHORemoteUpdUri),
      m_dbFileName(CSettings::DefaultDBFileName),
      m_pollInterval(static_cast<int>(CSettings::DefaultPollInterval)),
      m_actBlack(0),
      m_actGrey(1),
      m_loadOnDemand(1),
      m_useRmtVals(1) {}

CConfigDlg::~CConfigDlg() = default;

BOOL CConfigDlg::OnInitDialog() {
  LoadUserSettings();
  AttachControls();
  UpdateData(false);
  EnableControls();
  return TRUE;
}

void CConfigDlg::LoadAdvancedSettings() {
  m_useRmtVals = CSettings::GetUseRmtVals(m_useRmtVals);
  m_greyRedirectUri = CSettings::GetGreyRedirectUri(m_greyRedirectUri);
  m_blackRedirectUri = CSettings::GetBlackRedirectUri(m_blackRedirectUri);
  m_dbRemoteUpdUri = CSettings::GetDBRemoteUpdUri(m_dbRemoteUpdUri);
  m_bhoRemoteUpdUri = CSettings::GetBHORemoteUpdUri(m_bhoRemoteUpdUri);
  m_mdRemoteUri = CSettings::GetMDRemoteUri(m_mdRemoteUri);
  m_pollInterval = static_cast<int>(CSettings::GetPollInterval(static_cast<DWORD>(m_pollInterval)));
}

void CConfigDlg::LoadUserSettings() {
  LoadAdvancedSettings();
  m_dbFileName = CSettings::GetDBFileName(m_dbFileName);
  m_actBlack = CSettings::GetACTBlack(m_actBlack);
  m_actGrey = CSettings::GetACTGrey(m_actGrey);
  m_loadOnDemand = CSettings::GetDBLoadOnDemand(m_loadOnDemand);
}

void CConfigDlg::SaveAdvancedSettings() {
  CSettings::SetUseRmtVals(m_useRmtVals);
  CSettings::SetGreyRedirectUri(m_greyRedirectUri);
  CSettings::SetBlackRedirectUri(m_blackRedirectUri);
  CSettings::SetDBRemoteUpdUri(m_dbRemoteUpdUri);
  CSettings::SetBHORemoteUpdUri(m_bhoRemoteUpdUri);
  CSettings::SetMDRemoteUri(m_mdRemoteUri);
  CSettings::SetPollInterval(static_cast<DWORD>(m_pollInterval));
}

void CConfigDlg::SaveUserSettings() {
  UpdateData(true);
  SaveAdvancedSettings();
  CSettings::SetDBFileName(m_dbFileName);
  CSettings::SetACTBlack(m_actBlack);
  CSettings::SetACTGrey(m_actGrey);
  CSettings::SetDBLoadOnDemand(m_loadOnDemand);
}

void CConfigDlg::AttachControls() {
  m_greyRedirectField.Attach(m_hWnd, kGreyRedirectUri);
  m_blackRedirectField.Attach(m_hWnd, kBlackRedirectUri);
  m_dbRemoteUpdField.Attach(m_hWnd, kDBRemoteUpdUri);
  m_mdRemoteField.Attach(m_hWnd, kMDRemoteUri);
  m_bhoRemoteUpdField.Attach(m_hWnd, kBHORemoteUpdUri);
  m_dbFileField.Attach(m_hWnd, kDBFileName);
  m_pollIntervalList.Attach(m_hWnd, kPollInterval);
  m_actBlackBox.Attach(m_hWnd, kActBlack);
  m_actGreyBox.Attach(m_hWnd, kActGrey);
  m_loadOnDemandBox.Attach(m_hWnd, kLoadOnDemand);
  m_useRmtValsBox.Attach(m_hWnd, kUseRmtVals);
  m_dbVersionText.Attach(m_hWnd, kDBVersion);
  m_programVersionText.Attach(m_hWnd, kProgramVersion);
  m_okButton.Attach(m_hWnd, IDOK);
  m_browseButton.Attach(m_hWnd, kBrowse);
  m_configureButton.Attach(m_hWnd, kConfigure);

  // List index = stored "PollInterval".
  m_pollIntervalList.ResetContent();
  for (UINT id = 101; id <= 104; ++id) m_pollIntervalList.AddString(LoadString(id));
}

BOOL CConfigDlg::UpdateData(bool save) {
  if (save) {
    m_greyRedirectUri = m_greyRedirectField.GetText();
    m_blackRedirectUri = m_blackRedirectField.GetText();
    m_dbRemoteUpdUri = m_dbRemoteUpdField.GetText();
    m_mdRemoteUri = m_mdRemoteField.GetText();
    m_bhoRemoteUpdUri = m_bhoRemoteUpdField.GetText();
    m_dbFileName = m_dbFileField.GetText();
    m_pollInterval = m_pollIntervalList.GetCurSel();
    m_actBlack = m_actBlackBox.IsChecked();
    m_actGrey = m_actGreyBox.IsChecked();
    m_loadOnDemand = m_loadOnDemandBox.IsChecked();
    m_useRmtVals = m_useRmtValsBox.IsChecked();
  } else {
    m_greyRedirectField.SetText(m_greyRedirectUri);
    m_blackRedirectField.SetText(m_blackRedirectUri);
    m_dbRemoteUpdField.SetText(m_dbRemoteUpdUri);
    m_mdRemoteField.SetText(m_mdRemoteUri);
    m_bhoRemoteUpdField.SetText(m_bhoRemoteUpdUri);
    m_dbFileField.SetText(m_dbFileName);
    m_pollIntervalList.SetCurSel(m_pollInterval);  // no item outside 0 to 3
    m_actBlackBox.SetCheck(m_actBlack);
    m_actGreyBox.SetCheck(m_actGrey);
    m_loadOnDemandBox.SetCheck(m_loadOnDemand);
    m_useRmtValsBox.SetCheck(m_useRmtVals);
    RefreshVersions();
  }
  return TRUE;
}

void CConfigDlg::RefreshVersions() {
  const LONG pdbun = CSettings::GetPDBUN(-1);
  m_dbVersionText.SetText(pdbun == -1 ? LoadString(116) : Format(L"%05.05d", pdbun));
  m_programVersionText.SetText(Format(L"%05.05d", static_cast<int>(CSettings::BuildNumber)));
}

void CConfigDlg::EnableControls() {
  const bool automatic = m_useRmtValsBox.IsChecked() != 0;
  m_greyRedirectField.Enable(!automatic);
  m_blackRedirectField.Enable(!automatic);
  m_dbRemoteUpdField.Enable(!automatic);
  m_bhoRemoteUpdField.Enable(!automatic);
  m_pollIntervalList.Enable(!automatic);
  m_mdRemoteField.Enable(automatic);
  m_configureButton.Enable(automatic);
}

LRESULT CConfigDlg::OnShowWindow() {
  m_dbFileField.SetFocus();
  StartRefreshTimer();
  return TRUE;
}

void CConfigDlg::StartRefreshTimer() {
  if (m_refreshTimer == 0) m_refreshTimer = SetTimer(kRefreshTimerId, kRefreshMs, nullptr);
}

LRESULT CConfigDlg::OnTimer(WPARAM timerId) {
  if (timerId != kRefreshTimerId) return CDialog::OnTimer(timerId);
  RefreshVersions();
  m_refreshTimer = 0;
  StartRefreshTimer();
  return TRUE;
}

void CConfigDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case kBrowse:
      OnBrowseDatabaseFolder();
      break;
    case kUseRmtVals:
      OnAutoConfigToggled();
      break;
    case kConfigure:
      OnConfigure();
      break;
    case kCheckProgramUpdate:
      OnCheckProgramUpdate();
      break;
    case kApply:
      OnApply();
      break;
    case kUpdateDatabase:
      OnUpdateDatabase();
      break;
    default:
      CDialog::OnCommand(wParam, lParam);
  }
}

void CConfigDlg::OnOK() {
  SaveUserSettings();
  CDialog::OnOK();
}

bool CConfigDlg::Ask(const std::wstring& question) {
  return MessageBox(question.c_str(), LoadString(108).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CConfigDlg::Tell(UINT stringId) {
  MessageBox(LoadString(stringId).c_str(), LoadString(108).c_str(), MB_OK | MB_ICONINFORMATION);
}

void CConfigDlg::OnConfigure() {
  if (Ask(LoadString(106))) RefreshFromRemote();
}

void CConfigDlg::OnCheckProgramUpdate() {
  if (!Ask(LoadString(110))) return;
  auto remote = std::make_unique<CRemoteMD>();
  if (!remote->CheckBHOVersion(true)) Tell(114);
}

void CConfigDlg::OnApply() {
  SaveUserSettings();
  Tell(115);
}

void CConfigDlg::OnUpdateDatabase() {
  if (Ask(LoadString(111))) TriggerDatabaseUpdate();
}

void CConfigDlg::OnAutoConfigToggled() {
  if (m_useRmtValsBox.IsChecked()) {
    if (Ask(LoadString(107))) {
      CSettings::SetUseRmtVals(1);
      RefreshFromRemote();
    } else {
      m_useRmtValsBox.SetCheck(0);
    }
  } else if (!Ask(LoadString(118))) {
    m_useRmtValsBox.SetCheck(1);
  }  // on Yes the mode is saved with OK
  EnableControls();
}

void CConfigDlg::RefreshFromRemote() {
  LoadAdvancedSettings();
  auto remote = std::make_unique<CRemoteMD>();
  remote->ForceRefresh();
  LoadAdvancedSettings();
  RefreshVersions();
  UpdateData(false);
  TriggerDatabaseUpdate();
}

bool CConfigDlg::TriggerDatabaseUpdate() {
  // Any version then counts as old, so the next check downloads the database.
  CSettings::SetPDBUN(-1);
  CEvent manualUpdate(false, false, kManualUpdateEvent, false, nullptr);
  return manualUpdate.Set() != FALSE;
}

void CConfigDlg::OnBrowseDatabaseFolder() {
  CBrowseForFolderDlg chooser;
  if (chooser.Browse(m_hWnd, nullptr, L"Select Folder: -", BIF_RETURNONLYFSDIRS, nullptr, 0, 0) !=
      1)
    return;
  std::wstring path = chooser.GetFolderPath();
  if (path.empty() || path.back() != L'/') path += L'/';
  path += kDatabaseFileName;
  if (path.size() >= kMaxPath) {  // no such file name can be stored: say so, change nothing
    MessageBox(LoadString(119).c_str(), LoadString(108).c_str(), MB_OK | MB_ICONWARNING);
    return;
  }

  if (!Ask(Format(LoadString(117).c_str(), path.c_str()))) return;
  m_dbFileName = path;
  m_dbFileField.SetText(path);
  CSettings::SetDBFileName(path);
  TriggerDatabaseUpdate();
}
