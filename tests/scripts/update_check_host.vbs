' UpdateCheck as a VBScript host sees it: created by its ProgID, one check
' against the version file server, polled to its end (script hosts under
' Wine cannot bind events or sleep), its values read, and a refusal caught
' with its number, source and description.
'   cscript //nologo update_check_host.vbs <version file URL>
' Prints "passed" and quits with 0 only when every check held: an uncaught
' script error would also quit with 0.
Option Explicit

Dim failures, checks
failures = 0
checks = 0

Sub Expect(what, actual, expected)
  checks = checks + 1
  If actual <> expected Or VarType(actual) <> VarType(expected) Then
    WScript.Echo "FAILED " & what & ": [" & actual & "], expected [" & expected & "]"
    failures = failures + 1
  End If
End Sub

' Polls until the running check is over; False if it never ends.
Function WaitIdle(check)
  Dim deadline
  deadline = Timer + 10
  WaitIdle = True
  Do While check.IsActive()
    If Timer > deadline Then
      WaitIdle = False
      Exit Function
    End If
  Loop
End Function

Dim url, check, attempt, refused, number, source, description
url = WScript.Arguments(0)
Set check = CreateObject("QELUpdateCheck1_1.UpdateCheck")
Expect "IsActive of a new object", check.IsActive(), False
Expect "Major of a new object", check.Major, CLng(0)

' A second StartCheck is refused while the first waits for its 10 ms
' trigger; one that comes later finds the first over and starts anew, and
' is tried again.
refused = False
attempt = 0
Do While attempt < 5 And Not refused
  check.StartCheck url
  On Error Resume Next
  check.StartCheck url
  number = Err.Number
  source = Err.Source
  description = Err.Description
  On Error GoTo 0
  refused = (number <> 0)
  Expect "the check ends", WaitIdle(check), True
  attempt = attempt + 1
Loop
If Not refused Then
  WScript.Echo "FAILED no StartCheck was refused while a check ran"
  failures = failures + 1
Else
  Expect "refusal number", number, CLng(-2147219003)
  Expect "refusal source", source, "QELUpdateCheck1_0:UpdateCheck:"
  Expect "refusal description", description, _
      "This object is already processing a request. New request rejected."
End If

Expect "IsActive after the check", check.IsActive(), False
Expect "Major", check.Major, CLng(2)
Expect "Minor", check.Minor, CLng(0)
Expect "Build", check.Build, CLng(15)
Expect "UpdateURL", check.UpdateURL, "http://example.invalid/new"
Expect "VersionHistory", check.VersionHistory, "History line 1" & vbCrLf & "History line 2" & vbCrLf
Expect "IsUpgradeAvailable(2, 1, 15)", check.IsUpgradeAvailable(2, 1, 15), True
Expect "IsUpgradeAvailable(2, 0, 15)", check.IsUpgradeAvailable(2, 0, 15), False

Set check = Nothing
If failures = 0 Then WScript.Echo "passed " & checks & " checks"
If failures = 0 Then WScript.Quit 0 Else WScript.Quit 1
