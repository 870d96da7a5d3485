#!/usr/bin/env bash
# The main job: runs the filter in the browser stand-in against a local
# update server, on a fresh machine as on this one.
#
#   scripts/run-browser.sh [--keep] [--chromium | --firefox] [--screenshot FILE]
#
# Installs what is missing (scripts/install-deps.sh), builds into build-run/,
# and makes a private profile under a temporary folder (its own HOME and XDG
# folders, so your own registry is never touched). There it registers the
# module, serves the sample update site (warning pages, and the database and
# metadata enciphered from web/ at build time) with ostrel-serve on
# 127.0.0.1, points the filter's settings at it, lets the filter download
# the database, and browses sample addresses: an ordinary site, a
# white-listed one, a grey hit with its click-through, and a black hit,
# which offers none. The server is stopped on exit and the profile removed
# (--keep leaves the profile for a look with ostrel-reg).
#
# --chromium browses the same addresses in headless Chromium instead, with
# the filter's extension and its native host (one per window), prints where
# the tab ended each time, and saves the grey warning page as Chromium shows
# it to docs/chromium-warning.png (or --screenshot FILE).
#
# --firefox browses them in headless Firefox ESR, with the filter's add-on
# installed for the run and its native host, and saves the black warning
# page as Firefox shows it to docs/firefox-warning.png (or --screenshot FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
KEEP=0
BROWSER_NAME=
SCREENSHOT=
while [ $# -gt 0 ]; do
  case $1 in
    --keep) KEEP=1 ;;
    --chromium | --firefox) BROWSER_NAME=${1#--} ;;
    --screenshot)
      [ $# -ge 2 ] || { echo "run-browser.sh: --screenshot needs a file" >&2; exit 2; }
      SCREENSHOT=$(realpath -m "$2")
      shift ;;
    *) echo "usage: scripts/run-browser.sh [--keep] [--chromium | --firefox] [--screenshot FILE]" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$SCREENSHOT" ] && [ -z "$BROWSER_NAME" ] &&
  { echo "run-browser.sh: --screenshot goes with --chromium or --firefox" >&2; exit 2; }
[ -n "$BROWSER_NAME" ] && SCREENSHOT=${SCREENSHOT:-$ROOT/docs/$BROWSER_NAME-warning.png}

./scripts/install-deps.sh

BUILD=${OSTREL_RUN_BUILD:-$ROOT/build-run}  # another build folder may be named
LOG=$BUILD/run-browser-build.log
mkdir -p "$BUILD"
echo "== building into $BUILD =="
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DOSTREL_BUILD_TESTS=OFF -DOSTREL_BUILD_BENCH=OFF > "$LOG" 2>&1 ||
  { cat "$LOG"; exit 1; }
TARGETS=(OstrelAntiPhishingBHO ostrel-browser ostrel-regsvr ostrel-serve ostrel-reg ostrel_sample_site)
[ -n "$BROWSER_NAME" ] && TARGETS+=(ostrel-webext-host ostrel-webext-install "ostrel_${BROWSER_NAME}_extension")
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "${TARGETS[@]}" >> "$LOG" 2>&1 ||
  { tail -n 40 "$LOG"; exit 1; }

MODULE=$BUILD/src/com/OstrelAntiPhishingBHO.so
BROWSER=$BUILD/host/ostrel-browser
REG=$BUILD/tools/ostrel-reg
SITE=$BUILD/host/web

# The private profile: everything the filter keeps (registry, kernel
# objects, local database) lives in here.
PROFILE=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-run-XXXXXX")
mkdir -p "$PROFILE"/{home,config,cache,runtime,tmp}
chmod -R 700 "$PROFILE"
export HOME=$PROFILE/home XDG_CONFIG_HOME=$PROFILE/config XDG_CACHE_HOME=$PROFILE/cache \
  XDG_RUNTIME_DIR=$PROFILE/runtime TMPDIR=$PROFILE/tmp
# Loopback only, whatever proxy the environment names.
export no_proxy="127.0.0.1,localhost,.localhost" NO_PROXY="127.0.0.1,localhost,.localhost"

SERVER_PID=
cleanup() {
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  if [ "$KEEP" = 1 ]; then
    echo "profile kept: HOME=$HOME XDG_CONFIG_HOME=$XDG_CONFIG_HOME XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR TMPDIR=$TMPDIR"
  else
    rm -rf "$PROFILE"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== serving the sample update site =="
"$BUILD/host/ostrel-serve" "$SITE" --port 0 > "$PROFILE/serve.log" 2>&1 &
SERVER_PID=$!
PORT=
for _ in $(seq 100); do
  PORT=$(sed -n 's|.*http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$PROFILE/serve.log" | head -n 1)
  [ -n "$PORT" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$PROFILE/serve.log"; exit 1; }
  sleep 0.1
done
[ -n "$PORT" ] || { echo "ostrel-serve did not start" >&2; exit 1; }
SERVER=http://127.0.0.1:$PORT
head -n 1 "$PROFILE/serve.log"

echo "== registering the module in the private profile =="
"$BUILD/host/ostrel-regsvr" "$MODULE"

# The filter's settings point at the local server, as the README's "Pointing
# a filter at your own update server" does. The build number is recorded as
# already run, so that the filter keeps these addresses rather than going
# back to its public defaults on a first run.
KEY='HKCU\SOFTWARE\Ostrel\AntiPhish'
BUILD_NUMBER=$(sed -n 's/^project(.* VERSION [0-9]*\.[0-9]*\.\([0-9]*\).*/\1/p' CMakeLists.txt)
set_value() { "$REG" add "$KEY" /v "$1" /t "$2" /d "$3" /f > /dev/null; }
set_value GreyRedirectUri REG_SZ "$SERVER/grey.html"
set_value BlackRedirectUri REG_SZ "$SERVER/black.html"
set_value MDRemoteUri REG_SZ "$SERVER/mdatax.dat?"
set_value DBRemoteUpdUri REG_SZ "$SERVER/phishx.dbf?"
set_value BHOVersion REG_DWORD "$BUILD_NUMBER"

# The database version the filter has recorded: 0xffffffff (none) until it
# has downloaded and loaded one.
downloaded() {
  local v
  v=$("$REG" query "$KEY" /v PDBUN 2>/dev/null | awk '/PDBUN/ {print $3}')
  [ -n "$v" ] && [ "$v" != "0xffffffff" ]
}

SAMPLE=$(mktemp -d "$PROFILE/tmp/sample-XXXXXX")
cat > "$SAMPLE/addresses" <<ADDRESSES
# -- An ordinary site, not on the list: allowed.
http://www.shop.localhost:$PORT/
# -- A white-listed site: allowed, and the rest of the visit is not scanned.
http://www.bank.localhost:$PORT/
http://www.bank.localhost:$PORT/index.html
# -- A grey-listed look-alike: sent to the grey warning page, which offers to continue.
http://login.bank-secure.localhost:$PORT/index.html
# -- Following the page's "continue" link: the click-through is verified and the site reloaded,
continue
# -- and the rest of that site is not scanned again.
http://login.bank-secure.localhost:$PORT/
# -- A black-listed site: the black warning page, which offers no way on.
http://evil.localhost:$PORT/index.html
ADDRESSES
if [ -n "$BROWSER_NAME" ]; then
  cat >> "$SAMPLE/addresses" <<ADDRESSES
# -- A page posting a login form, password and all, to the black-listed site: the browser
# -- stops the request before it leaves, and the tab goes to the black warning page.
post http://evil.localhost:$PORT/signin
ADDRESSES
fi

if [ "$BROWSER_NAME" = chromium ]; then
  echo "== browsing in headless Chromium (the filter downloads its database from $SERVER first) =="
  mkdir -p "$PROFILE/chromium" "$(dirname "$SCREENSHOT")"
  node host/webext/driver/run-sample.js --user-data-dir "$PROFILE/chromium" \
    --installer "$BUILD/host/ostrel-webext-install" --reg "$REG" \
    --extension "$BUILD/host/chromium-extension" --server "$SERVER/" \
    --screenshot "$SCREENSHOT" < "$SAMPLE/addresses"
elif [ "$BROWSER_NAME" = firefox ]; then
  echo "== browsing in headless Firefox (the filter downloads its database from $SERVER first) =="
  mkdir -p "$PROFILE/firefox" "$(dirname "$SCREENSHOT")"
  node host/webext/driver/run-sample-firefox.js --profile-dir "$PROFILE/firefox" \
    --installer "$BUILD/host/ostrel-webext-install" --reg "$REG" \
    --extension "$BUILD/host/firefox-extension" --server "$SERVER/" \
    --screenshot "$SCREENSHOT" < "$SAMPLE/addresses"
else
  echo "== browsing (the filter downloads its database from $SERVER first) =="
  {
    # The window is open and its filter polls the server; wait for the download.
    for _ in $(seq 300); do
      downloaded && break
      sleep 0.1
    done
    if downloaded; then
      echo "# -- The filter downloaded the database from the sample update site."
    else
      echo "# -- No database arrived within 30 s: see the server's log below."
    fi
    cat "$SAMPLE/addresses"
  } | "$BROWSER" --fetch
fi

echo "== requests the sample update site served (every sample name resolves to it) =="
tail -n +2 "$PROFILE/serve.log"
if [ -n "$BROWSER_NAME" ]; then
  echo "== form posts that reached the server: $(grep -c '^POST ' "$PROFILE/serve.log" || true) =="
fi
