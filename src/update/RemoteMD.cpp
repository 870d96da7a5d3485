#include "update/RemoteMD.h"

#include <chrono>

#include "platform/ProcessFacts.h"
#include "platform/WinUser.h"
#include "settings/Settings.h"
#include "support/Desktop.h"
#include "support/TimeStamp.h"
#include "support/Trace.h"
#include "update/Cipher.h"
#include "update/LocalDB.h"

namespace {
constexpr int kMaxRefreshDepth = 10;
}  // namespace

const wchar_t* const CRemoteMD::kNewVersionText =
    L"A new version of the Ostrel Anti-Phishing Filter is now avaliable. Would you like to "
    L"download this update?";
const wchar_t* const CRemoteMD::kNewVersionCaption = L"Ostrel Anti-Phishing Filter";

CRemoteMD::CRemoteMD(HANDLE abortEvent)
    : CRemote(abortEvent),
      m_localDBVersion(-1),
      m_ownVersion(static_cast<LONG>(CSettings::BuildNumber)),
      m_storedNextUpdate(-1),
      m_lastNoticeDate(CSettings::GetBHOUW(CSettings::DefaultBHOUW)),
      m_currentUser(GetCurrentUserName()),
      m_refreshDepth(0) {
  m_remote.pollInterval = CSettings::GetPollInterval(CSettings::DefaultPollInterval);
  m_remote.dbUpdUri = CSettings::GetDBRemoteUpdUri(CSettings::DefaultDBRemoteUpdUri);
  m_remote.bhoUpdUri = CSettings::GetBHORemoteUpdUri(CSettings::DefaultBHORemoteUpdUri);
  m_remote.greyUri = CSettings::GetGreyRedirectUri(CSettings::DefaultGreyRedirectUri);
  m_remote.blackUri = CSettings::GetBlackRedirectUri(CSettings::DefaultBlackRedirectUri);
  m_remote.metadataUri = CSettings::GetMDRemoteUri(CSettings::DefaultMDRemoteUri);
  Refresh(false);
  LoadLocalState();
  Initialise(m_localDBVersion == -1);
}

CRemoteMD::~CRemoteMD() = default;

bool CRemoteMD::Fetch() {
  if (!CRemote::Fetch()) return false;
  std::string bytes;
  bytes.reserve(m_data.size());
  for (wchar_t c : m_data) bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
  const CDecrypt plain(bytes);
  if (!plain.IsValid()) return false;
  m_data.clear();
  for (char b : plain.GetResult()) m_data += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return true;
}

void CRemoteMD::Refresh(bool force) {
  if (CSettings::ApplyVersionChange()) {
    m_remote.metadataUri = CSettings::GetMDRemoteUri(CSettings::DefaultMDRemoteUri);
    ReadRemoteMetadata();
  } else if (force) {
    ReadRemoteMetadata();
  }
}

void CRemoteMD::ForceRefresh() { Refresh(true); }

void CRemoteMD::LoadLocalState() {
  if (CLocalDB::Exists()) {
    m_localDBVersion = CSettings::GetPDBUN(CSettings::DefaultPDBUN);
    // A time stored from a file read before times were clamped would stop checks for good.
    m_storedNextUpdate = ClampNextUpdate(CSettings::GetTTNUP(CSettings::DefaultTTNUP));
  } else {
    TraceMessage(L"<<< Forcing a local database automatic update >>>\r\n");
  }
}

void CRemoteMD::Initialise(bool force) {
  TraceMessage(L"Initialising RemoteMD\r\n");
  if (NowStamp(0) >= m_storedNextUpdate || force) Refresh(true);
}

void CRemoteMD::ReadRemoteMetadata() {
  TraceMessage(L"Opening remote meta data\r\n");
  if (!OpenUri(m_remote.metadataUri)) return;
  TraceMessage(L"Collecting remote meta data\r\n");
  // A failed fetch (a read that broke off, a checksum that fails) leaves
  // the settings as they are: its bytes carry no metadata.
  if (!Fetch()) {
    TraceMessage(L"Remote meta data not fetched, nothing applied\r\n");
    return;
  }
  TraceMessage(L"Parsing remote meta data\r\n");
  Parse();
}

void CRemoteMD::Parse() {
  ParseMetadata(GetStream(), m_remote);
  ApplyToSettings();
}

void CRemoteMD::ApplyToSettings() {
  // Addresses and lengths were checked as the file was read (MetadataFormat).
  m_remote.nextUpdate = ClampNextUpdate(m_remote.nextUpdate);
  const bool changed = CSettings::GetMDRemoteUri(CSettings::DefaultMDRemoteUri) != m_remote.metadataUri;
  if (!CSettings::GetUseRmtVals(CSettings::DefaultUseRmtVals)) return;
  CSettings::SetPollInterval(m_remote.pollInterval);
  CSettings::SetDBRemoteUpdUri(m_remote.dbUpdUri);
  CSettings::SetMDRemoteUri(m_remote.metadataUri);
  CSettings::SetBHORemoteUpdUri(m_remote.bhoUpdUri);
  CSettings::SetGreyRedirectUri(m_remote.greyUri);
  CSettings::SetBlackRedirectUri(m_remote.blackUri);
  if (changed) FollowMetadataUri();
}

void CRemoteMD::FollowMetadataUri() {
  if (m_refreshDepth >= kMaxRefreshDepth) return;
  ++m_refreshDepth;
  m_remoteUri = CSettings::GetMDRemoteUri(CSettings::DefaultMDRemoteUri);
  Initialise(true);
  --m_refreshDepth;
}

bool CRemoteMD::IsDBUpdateNeeded() const {
  return m_localDBVersion == -1 || m_remote.dbVersion > m_localDBVersion;
}

LONGLONG CRemoteMD::GetLastUpdateStamp() const {
  return CSettings::GetLSTUD(CSettings::DefaultLSTUD);
}

bool CRemoteMD::UpdateRegistry() {
  TraceMessage(L"Update the registry with new meta data\r\n");
  const bool newer = m_remote.dbVersion > m_localDBVersion;
  if (newer) CSettings::SetPDBUN(m_remote.dbVersion);
  if (m_remote.nextUpdate > m_storedNextUpdate) {
    CSettings::SetTTNUP(m_remote.nextUpdate);
  } else {
    const LONGLONG next = NowStamp(CSettings::GetPollIntervalMillis());
    if (next > m_storedNextUpdate) CSettings::SetTTNUP(next);
  }
  CSettings::SetLSTUD(NowStamp(0));
  CSettings::SetLastUser(m_currentUser);
  return newer;
}

bool CRemoteMD::CheckBHOVersion(bool force) {
  if (!FindNewerProgram(force)) return false;
  OfferNewerProgram();
  return true;
}

bool CRemoteMD::FindNewerProgram(bool force) {
  const DWORD today = TodayStamp();
  // Signed comparison: the initial -1 never holds the check back.
  if (!force && static_cast<LONG>(today) <= static_cast<LONG>(m_lastNoticeDate)) return false;
  if (m_remote.bhoVersion == -1) FollowMetadataUri();
  if (m_remote.bhoVersion <= m_ownVersion) return false;
  CSettings::SetBHOUW(today);
  m_lastNoticeDate = today;
  return true;
}

void CRemoteMD::OfferNewerProgram() const {
  if (ShowMessageBox(kNewVersionText, kNewVersionCaption, MB_YESNO | MB_ICONQUESTION) == IDYES &&
      IsHttpAddress(m_remote.bhoUpdUri))  // the setting may predate the metadata checks
    OpenInBrowser(m_remote.bhoUpdUri.c_str());
}

const MetadataValues& CRemoteMD::GetRemoteValues() const { return m_remote; }

LONG CRemoteMD::GetLocalDBVersion() const { return m_localDBVersion; }

LONGLONG CRemoteMD::StampAt(LONGLONG unixSeconds, DWORD offsetMs) {
  return TimeStampFromUnixSeconds(unixSeconds + offsetMs / 1000);
}

LONGLONG CRemoteMD::NowStamp(DWORD offsetMs) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return StampAt(std::chrono::duration_cast<std::chrono::seconds>(now).count(), offsetMs);
}

DWORD CRemoteMD::TodayStamp() { return static_cast<DWORD>(NowStamp(0) / 1000000); }

std::wstring CRemoteMD::GetCurrentUserName() {
  WCHAR name[2048];
  DWORD size = 2048;
  if (!GetUserNameW(name, &size)) return std::wstring();
  return name;
}
