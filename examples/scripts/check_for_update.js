// Checks for an update from JScript.
//   cscript //nologo check_for_update.js URL MAJOR MINOR BUILD
// Exit status: 0 up to date, 1 a newer version is published, 2 the check failed.
var args = WScript.Arguments;
if (args.length != 4) {
  WScript.Echo("usage: check_for_update.js URL MAJOR MINOR BUILD");
  WScript.Quit(2);
}
var url = args(0);
var mine = [parseInt(args(1), 10), parseInt(args(2), 10), parseInt(args(3), 10)];

// Returns the exit status.
function checkForUpdate(check) {
  check.StartCheck(url);

  // Poll until the check is over (it ends within 60 s). On Windows, add
  // WScript.Sleep(100) inside the loop; Wine's script host has no Sleep.
  // IsActive fails only when the server has gone: no outcome will come then.
  var deadline = new Date().getTime() + 90000;
  for (;;) {
    var active;
    try {
      active = check.IsActive();
    } catch (e) {
      var hex = ("0000000" + (e.number >>> 0).toString(16).toUpperCase()).slice(-8);
      WScript.Echo("The update checker's server ended during the check (error 0x" + hex + ")");
      return 2;
    }
    if (!active) break;
    if (new Date().getTime() > deadline) {
      WScript.Echo("No answer within 90 s");
      return 2;
    }
  }

  // Polling does not see the outcome, but a fresh object holds 0.0.0 until a
  // check succeeds, and a published major is never 0.
  if (check.Major == 0) {
    WScript.Echo("The check failed: nothing was published at " + url);
    return 2;
  }

  var published = [check.Major, check.Minor, check.Build];
  WScript.Echo("Published version: " + published.join("."));
  WScript.Echo("Update URL: " + check.UpdateURL);
  // IsUpgradeAvailable only says that the versions differ; order decides.
  WScript.Echo("Differs from " + mine.join(".") + ": " +
               (check.IsUpgradeAvailable(mine[0], mine[1], mine[2]) ? "yes" : "no"));
  var order = 0;
  for (var i = 0; i < 3 && order == 0; i++) {
    order = published[i] > mine[i] ? 1 : published[i] < mine[i] ? -1 : 0;
  }
  WScript.Echo(order > 0   ? "A newer version is available."
               : order < 0 ? "The published version is older than this one."
                           : "This version is up to date.");
  return order > 0 ? 1 : 0;
}

// Let the object go before quitting, so that the server can end.
var check = new ActiveXObject("QELUpdateCheck1_1.UpdateCheck");
var status = checkForUpdate(check);
check = null;
CollectGarbage();
WScript.Quit(status);

// On Windows a script can wait for the event instead of polling, and so also
// learn why a check failed (not run by the tests: Wine 8's script host cannot
// bind events):
//
//   var check = WScript.CreateObject("QELUpdateCheck1_1.UpdateCheck", "Check_");
//   function Check_UpdateCheckComplete(lErrorNumber, strErrorDescription) {
//     if (lErrorNumber != 0)
//       WScript.Echo("The check failed: " + lErrorNumber + " " + strErrorDescription);
//   }
//   check.StartCheck(url);
//   while (check.IsActive()) WScript.Sleep(100);
