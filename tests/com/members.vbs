' The control's members from VBScript, without a server: start values and
' automation types, the form-variable table, Clear, URLEncode, and the
' run-time errors a script sees (Err.Number 9 and 6, with the control's text).
Option Explicit
Dim failures, ctl, x, row
failures = 0

Sub Check(what, got, want)
  If got <> want Then
    WScript.Echo "FAIL " & what & ": got [" & got & "], want [" & want & "]"
    failures = failures + 1
  End If
End Sub

' The error the last statement raised (wine's VBScript has no Execute): its
' Err.Number, or what is wrong with its source and text.
Sub CheckError(what, want)
  Dim got
  got = Err.Number
  If got <> 0 And (Err.Source <> "vizADAVU.Control" Or Err.Description = "") Then
    got = "source [" & Err.Source & "] text [" & Err.Description & "]"
  End If
  Check what, got, want
  Err.Clear
End Sub

Set ctl = CreateObject("vizADAVU.Control")
For Each row In Array( _
    Array("FormVarCount", ctl.FormVarCount, 0), Array("type", TypeName(ctl.FormVarCount), "Integer"), _
    Array("ReceiveBuffer", ctl.ReceiveBuffer, ""), Array("ArraySize", ctl.ReceiveBufferArraySize, -1), _
    Array("type", TypeName(ctl.ReceiveBufferArraySize), "Long"), _
    Array("ReceiveBufferSize", ctl.ReceiveBufferSize, -1), Array("SecurityFlags", ctl.SecurityFlags, 0), _
    Array("Secure_Mode_Off", TypeName(ctl.Secure_Mode_Off) & ctl.Secure_Mode_Off, "BooleanFalse"), _
    Array("HttpStatusCode", ctl.HttpStatusCode, 0), Array("URL", ctl.URL, ""))
  Check "new control: " & row(0), row(1), row(2)
Next

ctl.Secure_Mode_Off = True : ctl.YieldWhileWaiting = 1 : ctl.StrictCertificates = True
Check "Boolean is -1", CInt(ctl.Secure_Mode_Off) & CInt(ctl.YieldWhileWaiting), "-1-1"
ctl.URL = "http://h/" & Chr(233) & vbTab
Check "URL unchanged", ctl.URL, "http://h/" & Chr(233) & vbTab
ctl.FormVarCount = 3
For x = 1 To 3 : ctl.FormVarNames(x) = "n" & x : ctl.FormVarValues(x) = "v" & x : Next
ctl.FormVarCount = 5
Check "grown table", ctl.FormVarNames(3) & ctl.FormVarValues(3) & "|" & ctl.FormVarNames(5), "n3v3|"
ctl.FormVarCount = 2

On Error Resume Next
x = ctl.FormVarNames(3) : CheckError "FormVarNames(3)", 9
x = ctl.FormVarNames(99) : CheckError "FormVarNames(99)", 9
ctl.FormVarValues(-1) = "v" : CheckError "FormVarValues(-1)", 9
x = ctl.FormVarNames(40000) : CheckError "FormVarNames(40000)", 6
ctl.Action = 40000 : CheckError "Action = 40000", 6
ctl.Action = -32769 : CheckError "Action = -32769", 6
ctl.FormVarCount = 40000 : CheckError "FormVarCount = 40000", 6
ctl.FormVarCount = -1 : CheckError "FormVarCount = -1", 9
x = ctl.ReceiveBufferB(0) : CheckError "ReceiveBufferB(0)", 9
On Error GoTo 0
Check "count after a failed resize", ctl.FormVarCount & ctl.FormVarNames(2), "-1n2"

For Each row In Array(Array("50% off", "50%25+off"), Array("a&b=c", "a&b=c"), Array("", ""), _
    Array("a=x y", "a=x+y"), Array(vbTab & "+%", "%09%2B%25"), Array(Chr(233), "%E9"), _
    Array("1234567890:/.?=_-$(){}~&", "1234567890:/.?=_-$(){}~&"), Array(vbCrLf & "#", "%0D%0A%23"))
  Check "URLEncode(" & row(0) & ")", ctl.URLEncode(row(0)), row(1)
Next

ctl.SecurityFlags = 7 : ctl.ReceiveBufferSize = 10
ctl.Clear
Check "after Clear", ctl.SecurityFlags & " " & ctl.FormVarCount & " " & ctl.ReceiveBufferSize & " " & _
      ctl.URL, "0 0 -1 http://h/" & Chr(233) & vbTab
On Error Resume Next
x = ctl.FormVarNames(0) : CheckError "FormVarNames(0) after Clear", 9
On Error GoTo 0

If failures = 0 Then WScript.Echo "vbs-ok"
