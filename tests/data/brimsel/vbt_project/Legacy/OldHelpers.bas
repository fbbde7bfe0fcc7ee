Attribute VB_Name = "OldHelpers"
' Grüße des Puffers
Private bufSize As Integer
Public Sub ResetBuffer()
    bufSize = 0
End Sub
Sub Unfinished(a, b)
    Dim tmp_str As String
    tmp_str = "x"