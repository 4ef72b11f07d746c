' Checks for an update from VBScript.
'   cscript //nologo check_for_update.vbs URL MAJOR MINOR BUILD
' Exit status: 0 up to date, 1 a newer version is published, 2 the check failed.
Option Explicit

' "major.minor.build" (Wine 8's VBScript has no Join).
Function Dotted(version)
  Dotted = version(0) & "." & version(1) & "." & version(2)
End Function

Dim url, mine(2), check, status, i
If WScript.Arguments.Count <> 4 Then
  WScript.Echo "usage: check_for_update.vbs URL MAJOR MINOR BUILD"
  WScript.Quit 2
End If
url = WScript.Arguments(0)
For i = 0 To 2
  mine(i) = CLng(WScript.Arguments(i + 1))
Next

' Returns the exit status.
Function CheckForUpdate(check)
  Dim deadline, active, failure, number, published, order, i
  check.StartCheck url

  ' Poll until the check is over (it ends within 60 s). On Windows, add
  ' WScript.Sleep 100 inside the loop; Wine's script host has no Sleep.
  ' IsActive fails only when the server has gone: no outcome will come then.
  deadline = DateAdd("s", 90, Now)
  Do
    On Error Resume Next
    active = check.IsActive()
    failure = Err.Number
    On Error GoTo 0
    If failure <> 0 Then
      ' VBScript gives some results as its own numbers: 462 for 0x800706BA.
      If failure < 0 Then number = "0x" & Hex(failure) Else number = CStr(failure)
      WScript.Echo "The update checker's server ended during the check (error " & number & ")"
      CheckForUpdate = 2
      Exit Function
    End If
    If Not active Then Exit Do
    If Now > deadline Then
      WScript.Echo "No answer within 90 s"
      CheckForUpdate = 2
      Exit Function
    End If
  Loop

  ' Polling does not see the outcome, but a fresh object holds 0.0.0 until a
  ' check succeeds, and a published major is never 0.
  If check.Major = 0 Then
    WScript.Echo "The check failed: nothing was published at " & url
    CheckForUpdate = 2
    Exit Function
  End If

  published = Array(check.Major, check.Minor, check.Build)
  WScript.Echo "Published version: " & Dotted(published)
  WScript.Echo "Update URL: " & check.UpdateURL
  ' IsUpgradeAvailable only says that the versions differ; order decides.
  If check.IsUpgradeAvailable(mine(0), mine(1), mine(2)) Then
    WScript.Echo "Differs from " & Dotted(mine) & ": yes"
  Else
    WScript.Echo "Differs from " & Dotted(mine) & ": no"
  End If
  order = 0
  For i = 0 To 2
    If order = 0 Then order = Sgn(published(i) - mine(i))
  Next
  Select Case order
    Case 1: WScript.Echo "A newer version is available."
    Case -1: WScript.Echo "The published version is older than this one."
    Case Else: WScript.Echo "This version is up to date."
  End Select
  If order = 1 Then CheckForUpdate = 1 Else CheckForUpdate = 0
End Function

' Let the object go before quitting, so that the server can end.
Set check = CreateObject("QELUpdateCheck1_1.UpdateCheck")
status = CheckForUpdate(check)
Set check = Nothing
WScript.Quit status

' On Windows a script can wait for the event instead of polling, and so also
' learn why a check failed (not run by the tests: Wine 8's script host cannot
' bind events):
'
'   Set check = WScript.CreateObject("QELUpdateCheck1_1.UpdateCheck", "Check_")
'   check.StartCheck url
'   Do While check.IsActive() : WScript.Sleep 100 : Loop
'
'   Sub Check_UpdateCheckComplete(lErrorNumber, strErrorDescription)
'     If lErrorNumber <> 0 Then WScript.Echo "The check failed: " & lErrorNumber & _
'         " " & strErrorDescription
'   End Sub
