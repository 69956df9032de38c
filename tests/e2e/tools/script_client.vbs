' A client as an application written in a scripting language is one: creates
' each object named by ProgID on the command line through COM and uses it, one
' line each: "PROGID: ..." with what it did, or "PROGID: not created, error N"
' with the script's error number (429: the object could not be created).
'
'   cscript //nologo script_client.vbs PROGID...
Option Explicit

Dim i, progId, thing
' By index: Wine's script host cannot enumerate its arguments.
For i = 0 To WScript.Arguments.Count - 1
    progId = WScript.Arguments.Item(i)
    On Error Resume Next
    Set thing = CreateObject(progId)
    If Err.Number <> 0 Then
        WScript.Echo progId & ": not created, error " & Err.Number
    Else
        On Error GoTo 0
        WScript.Echo progId & ": " & Use(progId, thing)
    End If
    On Error GoTo 0
    Set thing = Nothing
Next

' What the object does for its client, as text.
Function Use(progId, thing)
    Select Case progId
        Case "Scripting.Dictionary"
            thing.Add "key", "value"
            Use = "created, " & thing.Count & " item, key gives " & thing.Item("key")
        Case "Scripting.FileSystemObject"
            Use = "created, C:\windows exists: " & thing.FolderExists("C:\windows")
        Case Else
            Use = "created, " & TypeName(thing)
    End Select
End Function
