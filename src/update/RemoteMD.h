// CRemoteMD: the remote metadata of one update cycle or one dialog command.
// It reads the stored schedule and database version, fetches, deciphers
// and parses the metadata file when an update is due or forced, writes the
// remote addresses and poll interval to the settings in automatic
// configuration mode (following a changed metadata address up to 10
// levels), says whether a database download is needed, records a completed
// download, and offers a newer program version to the user. A fetch that
// fails (no response, a status other than 2xx, a checksum that fails, an
// abandoned transfer) changes no setting. Used only by the thread that
// built it; every setting is read and written through CSettings, one call
// at a time.
#pragma once

#include <string>

#include "update/MetadataFormat.h"
#include "update/Remote.h"

class CRemoteMD : public CRemote {
 public:
  // Reads the settings, then Refresh(false), LoadLocalState and
  // Initialise(local version unknown): a due, forced or first refresh
  // fetches the metadata before the constructor returns. Raises the
  // session's CException. Its fetches are abandoned once abortEvent (the
  // update thread's quit event) is signalled (CRemote).
  explicit CRemoteMD(HANDLE abortEvent = nullptr);
  ~CRemoteMD() override;

  // Fetches and deciphers the metadata; false (the data left enciphered)
  // when the container's checksum fails.
  bool Fetch() override;

  void Refresh(bool force);
  void ForceRefresh();  // Refresh(true), for the configuration dialog

  // True when the local database version is unknown (-1) or the remote
  // one is higher.
  bool IsDBUpdateNeeded() const;
  LONGLONG GetLastUpdateStamp() const;  // the LSTUD setting
  // After a new database was saved and loaded: records its version, the
  // next due time, the time of this update and the user. True when a
  // version newer than the recorded one was recorded.
  bool UpdateRegistry();
  // Offers a newer program version (at most once a day unless forced);
  // true when one was offered, whatever the answer. It waits for the user:
  // the update cycle, which holds the update mutex while it looks, calls
  // the two halves apart and asks only once the mutex is released.
  bool CheckBHOVersion(bool force);
  // True when a newer program version is to be offered; then records today
  // as the day the user was told (BHOUW), so no other cycle asks today.
  bool FindNewerProgram(bool force);
  // Asks the user, and opens the installer address on Yes.
  void OfferNewerProgram() const;

  // What the metadata set (the settings' values where it set nothing).
  const MetadataValues& GetRemoteValues() const;
  LONG GetLocalDBVersion() const;

  // The UTC time offsetMs from now as YYYYMMDDhhmmss; today as YYYYMMDD;
  // the logged-on user's name (empty when unknown).
  static LONGLONG NowStamp(DWORD offsetMs);
  static DWORD TodayStamp();
  static std::wstring GetCurrentUserName();
  // NowStamp at a given clock, in seconds since 1970-01-01 00:00 UTC.
  static LONGLONG StampAt(LONGLONG unixSeconds, DWORD offsetMs);

  // The question of CheckBHOVersion (string resources 109 and 108).
  static const wchar_t* const kNewVersionText;
  static const wchar_t* const kNewVersionCaption;

 private:
  void LoadLocalState();
  void Initialise(bool force);
  void ReadRemoteMetadata();
  void Parse();
  void ApplyToSettings();
  void FollowMetadataUri();

  MetadataValues m_remote;         // from the metadata, over the settings' values
  LONG m_localDBVersion;           // PDBUN when the local file exists, else -1
  LONG m_ownVersion;               // this program's build number
  LONGLONG m_storedNextUpdate;     // TTNUP when the local file exists, else -1
  DWORD m_lastNoticeDate;          // BHOUW: the day the user was last told
  std::wstring m_currentUser;
  int m_refreshDepth;              // nested FollowMetadataUri levels
};
