' UpdateCheck as a VBScript host sees it: created by its ProgID, one check
' against the version file server, refused while it runs with number, source
' and description, polled to its end (script hosts under Wine cannot bind
' events or sleep), its values read.
'   cscript //nologo update_check_host.vbs <URL of a version file that takes a second>
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

' Runs one guarded member and expects the busy refusal, in full.
Sub ExpectRefused(name, check, url)
  Dim value
  On Error Resume Next
  Select Case name
    Case "StartCheck": check.StartCheck url
    Case "IsUpgradeAvailable": value = check.IsUpgradeAvailable(1, 2, 3)
    Case "Major": value = check.Major
    Case "Minor": value = check.Minor
    Case "Build": value = check.Build
    Case "UpdateURL": value = check.UpdateURL
    Case "VersionHistory": value = check.VersionHistory
  End Select
  Dim number, source, description
  number = Err.Number
  source = Err.Source
  description = Err.Description
  On Error GoTo 0
  Expect name & " refusal number", number, CLng(-2147219003)
  Expect name & " refusal source", source, "QELUpdateCheck1_0:UpdateCheck:"
  Expect name & " refusal description", description, _
      "This object is already processing a request. New request rejected."
End Sub

Dim url, check, pauseEnd, name
url = WScript.Arguments(0)
Set check = CreateObject("QELUpdateCheck1_1.UpdateCheck")
Expect "IsActive of a new object", check.IsActive(), False
Expect "Major of a new object", check.Major, CLng(0)

' The server answers after a second. Once the download is under way the
' object still answers at once: busy, and every guarded member refused.
check.StartCheck url
pauseEnd = Timer + 0.15
Do While Timer < pauseEnd And Timer > pauseEnd - 1   ' Timer restarts at midnight
Loop
Expect "IsActive during the download", check.IsActive(), True
For Each name In Array("StartCheck", "IsUpgradeAvailable", "Major", "Minor", "Build", _
                       "UpdateURL", "VersionHistory")
  ExpectRefused name, check, url
Next
Expect "IsActive after the refusals", check.IsActive(), True
Expect "the check ends", WaitIdle(check), True

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
