' Transfers from VBScript against the loopback server (its ports as the
' arguments): a POST whose field `reply` the server decodes and
' answers with, a GET with its form in the query, a single read (StringB,
' ReceiveBufferB), Clear, and a refused port. (Wine's script host delivers no
' events: com_events checks them from C++.)
Option Explicit
Dim failures, ctl, base, refused, line, ports, body
failures = 0

Sub Check(what, got, want)
  If got <> want Then
    WScript.Echo "FAIL " & what & ": got [" & got & "], want [" & want & "]"
    failures = failures + 1
  End If
End Sub

' An HTTP/1.0 reply for the server to send, carrying `text`.
Function Reply(text)
  Reply = "HTTP/1.0 200 OK" & vbCrLf & "Content-Length: " & Len(text) & vbCrLf & vbCrLf & text
End Function

' A transfer of a new control; `reply` ("": none) goes as the field "reply".
Sub Submit(url, action, readSize, reply)
  Set ctl = CreateObject("vizADAVU.Control")
  ctl.Secure_Mode_Off = True
  ctl.ReceiveBufferSize = readSize
  ctl.URL = url
  If reply <> "" Then
    ctl.FormVarCount = 2
    ctl.FormVarNames(1) = "name" : ctl.FormVarValues(1) = "x y"
    ctl.FormVarNames(2) = "reply" : ctl.FormVarValues(2) = reply
  End If
  ctl.Action = action
End Sub

' The ports, NAME PORT ..., as run-vbs.sh passes them.
Set ports = WScript.Arguments
For line = 0 To ports.Count - 2 Step 2
  If ports(line) = "plain" Then base = "http://127.0.0.1:" & ports(line + 1)
  If ports(line) = "refused" Then refused = "http://127.0.0.1:" & ports(line + 1)
Next
body = "posted " & Chr(233) & "t" & Chr(233) & " 100%"

Submit base & "/form", 1, -1, Reply(body)
Check "POST", ctl.HttpStatusCode & "|" & ctl.ReceiveBuffer, "200|" & body
Submit base & "/get?reply=" & ctl.URLEncode(Reply("got it")), 2, -1, ""
Check "GET", ctl.HttpStatusCode & "|" & ctl.ReceiveBuffer, "200|got it"
Submit base & "/one", 1, 64, Reply(body)
Check "single read", ctl.StringB & "|" & ctl.ReceiveBufferArraySize & "|" & ctl.ReceiveBuffer, _
      body & "|" & (Len(body) - 1) & "|"
Check "ReceiveBufferB", ctl.ReceiveBufferB(0) & " " & ctl.ReceiveBufferB(7), Asc("p") & " 233"
ctl.Clear
Check "cleared", ctl.StringB & "|" & ctl.ReceiveBufferArraySize & "|" & ctl.HttpStatusCode, "|-1|0"
Submit refused & "/", 1, -1, Reply(body)
Check "refused port", ctl.HttpStatusCode & "|" & ctl.ReceiveBuffer, "0|"

If failures = 0 Then WScript.Echo "vbs-ok"
