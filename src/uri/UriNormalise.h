// The list's subject as a server reads the address. Servers decode the
// escapes of unreserved characters and resolve "." and ".." segments
// before they look a path up, so "/x/../login.php", "/%6Cogin.php" and
// "/login.php" name one page; the list is searched in that form first.
// Only the path changes: from the first "/" of the subject (after the
// host and port) to the first "?" or "#". In it, %XX of ALPHA, DIGIT, "-",
// ".", "_" and "~" is decoded (either case of hex digits), then dot
// segments are removed as RFC 3986 (5.2.4) removes them, above the root
// dropped. Every other escape keeps its bytes (%2F stays: it is no
// separator to a server), as does an escape whose hex digit would make a
// "%" that starts no escape start one ("%6%61" is not "%6a": a server
// decodes once); the query and fragment stay as written.
// The result is never longer than the subject, and normalising it again
// changes nothing. Stateless; thread-safe.
#pragma once

#include <string>
#include <string_view>

// True, with the normalised subject in *normalised, when it differs from
// subject; false (and *normalised untouched) when subject is already in
// that form, the usual case, which costs no copy.
bool NormaliseSubject(std::wstring_view subject, std::wstring* normalised);

// The normalised subject, whether or not it differs.
std::wstring NormalisedSubject(std::wstring_view subject);
