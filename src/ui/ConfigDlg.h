// CConfigDlg: the modal "Configuration" dialog (template 101). It keeps its
// own copy of each setting, exchanges it with the controls through
// UpdateData, and reads and writes the registry only through CSettings. It
// also starts the hand-made actions: a database update now, a program
// update check, a refresh of the advanced settings from the remote
// metadata, and moving the database file. Runs on the thread that calls
// DoModal; created and destroyed around one DoModal.
#pragma once

#include <string>

#include "ui/Dialog.h"
#include "ui/DlgCtrl.h"

class CConfigDlg : public CDialog {
 public:
  explicit CConfigDlg(HWND owner);
  ~CConfigDlg() override;

  LRESULT OnShowWindow() override;
  void OnCommand(WPARAM wParam, LPARAM lParam) override;
  LRESULT OnTimer(WPARAM timerId) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  BOOL UpdateData(bool save) override;

 private:
  void LoadUserSettings();
  void LoadAdvancedSettings();
  void SaveUserSettings();
  void SaveAdvancedSettings();
  void AttachControls();
  void EnableControls();
  void RefreshVersions();
  void StartRefreshTimer();
  void OnBrowseDatabaseFolder();
  void OnAutoConfigToggled();
  void OnConfigure();
  void OnCheckProgramUpdate();
  void OnApply();
  void OnUpdateDatabase();
  void RefreshFromRemote();
  bool TriggerDatabaseUpdate();
  // A Yes/No question and a notice, owned by the dialog; captions string 108.
  bool Ask(const std::wstring& question);
  void Tell(UINT stringId);

  UINT_PTR m_refreshTimer;
  CEdit m_greyRedirectField;
  std::wstring m_greyRedirectUri;
  CEdit m_blackRedirectField;
  std::wstring m_blackRedirectUri;
  CEdit m_dbRemoteUpdField;
  std::wstring m_dbRemoteUpdUri;
  CEdit m_mdRemoteField;
  std::wstring m_mdRemoteUri;
  CEdit m_bhoRemoteUpdField;
  std::wstring m_bhoRemoteUpdUri;
  CEdit m_dbFileField;
  std::wstring m_dbFileName;
  CComboBox m_pollIntervalList;
  int m_pollInterval;
  CCheckBox m_actBlackBox;
  DWORD m_actBlack;
  CCheckBox m_actGreyBox;
  DWORD m_actGrey;
  CCheckBox m_loadOnDemandBox;
  DWORD m_loadOnDemand;
  CCheckBox m_useRmtValsBox;
  DWORD m_useRmtVals;
  CStatic m_dbVersionText;
  CStatic m_programVersionText;
  CButton m_okButton;
  CButton m_browseButton;
  CButton m_configureButton;
};
