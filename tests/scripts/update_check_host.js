// UpdateCheck as a JScript host sees it: created by its ProgID, one check
// against the version file server, refused while it runs, polled to its end
// (script hosts under Wine cannot bind events or sleep), its values read.
//   cscript //nologo update_check_host.js <URL of a version file that takes a second>
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

// The server answers after a second. Once the download is under way the
// object still answers at once: busy, and every guarded member refused.
check.StartCheck(url);
var until = new Date().getTime() + 150;
while (new Date().getTime() < until) {}
expect("IsActive during the download", check.IsActive(), true);
var guarded = {
  "StartCheck": function () { check.StartCheck(url); },
  "IsUpgradeAvailable": function () { return check.IsUpgradeAvailable(1, 2, 3); },
  "Major": function () { return check.Major; },
  "Minor": function () { return check.Minor; },
  "Build": function () { return check.Build; },
  "UpdateURL": function () { return check.UpdateURL; },
  "VersionHistory": function () { return check.VersionHistory; }
};
for (var name in guarded) {
  var refusal = null;
  try {
    guarded[name]();
  } catch (e) {
    refusal = e;
  }
  expect(name + " refused", refusal !== null, true);
  if (refusal !== null) {
    expect(name + " refusal number", refusal.number, -2147219003);
    expect(name + " refusal description", refusal.description,
           "This object is already processing a request. New request rejected.");
  }
}
expect("IsActive after the refusals", check.IsActive(), true);
expect("the check ends", waitIdle(check), true);

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
