// The configuration user interface's resources: dialog template 101 (the
// configuration dialog), the string table and bitmap 204, registered with
// the platform under the instance the dialog classes load from. That is
// the module's instance once the module has set it, and the program's own
// (null) until then. Safe from any thread.
#pragma once

#include "platform/Resources.h"

// The control identifiers of dialog template 101.
namespace ConfigDlgIds {
constexpr int kTemplate = 101;
constexpr int kBitmap = 204;
constexpr int kActGrey = 201;
constexpr int kActBlack = 202;
constexpr int kLoadOnDemand = 203;
constexpr int kMDRemoteUri = 204;
constexpr int kBHORemoteUpdUri = 205;
constexpr int kDBRemoteUpdUri = 207;
constexpr int kGreyRedirectUri = 208;
constexpr int kDBFileName = 209;
constexpr int kBlackRedirectUri = 210;
constexpr int kBrowse = 212;
constexpr int kUseRmtVals = 215;
constexpr int kPollInterval = 217;
constexpr int kConfigure = 218;
constexpr int kCheckProgramUpdate = 219;
constexpr int kApply = 220;
constexpr int kUpdateDatabase = 221;
constexpr int kDBVersion = 222;
constexpr int kProgramVersion = 223;
}  // namespace ConfigDlgIds

// Registers the resources for instance (again, harmlessly) and makes it the
// one the dialog classes load from.
void SetResourceInstance(HINSTANCE instance);
// The instance to load from, its resources registered.
HINSTANCE GetResourceInstance();
