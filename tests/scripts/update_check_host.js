// UpdateCheck as a JScript host sees it: created by its ProgID, one check
// against the version file server, polled to its end (script hosts under
// Wine cannot bind events or sleep), its values read, and a refusal caught.
//   cscript //nologo update_check_host.js <version file URL>
// Prints "passed" and quits with 0 only when every check held: an uncaught
// script error would also quit with 0.

var failures = 0;
var checks = 0;

function expect(what, actual, expected) {
  checks++;
  if (actual !== expected) {
    WScript.Echo("FAILED " + what + ": [" + actual + "], expected [" + expected + "]");
    failures++;
  }
}

// Polls until the running check is over; false if it never ends.
function waitIdle(check) {
  var deadline = new Date().getTime() + 10000;
  while (check.IsActive()) {
    if (new Date().getTime() > deadline) return false;
  }
  return true;
}

var url = WScript.Arguments(0);
var check = new ActiveXObject("QELUpdateCheck1_1.UpdateCheck");
expect("IsActive of a new object", check.IsActive(), false);
expect("Major of a new object", check.Major, 0);

// A second StartCheck is refused while the first waits for its 10 ms
// trigger; one that comes later finds the first over and starts anew, and
// is tried again.
var refusal = null;
for (var attempt = 0; attempt < 5 && refusal === null; attempt++) {
  check.StartCheck(url);
  try {
    check.StartCheck(url);
  } catch (e) {
    refusal = e;
  }
  expect("the check ends", waitIdle(check), true);
}
if (refusal === null) {
  WScript.Echo("FAILED no StartCheck was refused while a check ran");
  failures++;
} else {
  expect("refusal number", refusal.number, -2147219003);
  expect("refusal description", refusal.description,
         "This object is already processing a request. New request rejected.");
}

expect("IsActive after the check", check.IsActive(), false);
expect("Major", check.Major, 2);
expect("Minor", check.Minor, 0);
expect("Build", check.Build, 15);
expect("UpdateURL", check.UpdateURL, "http://example.invalid/new");
expect("VersionHistory", check.VersionHistory, "History line 1\r\nHistory line 2\r\n");
expect("IsUpgradeAvailable(2, 1, 15)", check.IsUpgradeAvailable(2, 1, 15), true);
expect("IsUpgradeAvailable(2, 0, 15)", check.IsUpgradeAvailable(2, 0, 15), false);

check = null;
CollectGarbage();
if (failures === 0) WScript.Echo("passed " + checks + " checks");
WScript.Quit(failures === 0 ? 0 : 1);
