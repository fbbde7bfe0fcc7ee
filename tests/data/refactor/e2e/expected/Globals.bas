Attribute VB_Name = "Globals"
Option Explicit

Public g_Counter_lng As Long
Public limit As Double

Public Sub ResetAll()
    g_Counter_lng = 0
    limit = g_Counter_lng + 1.5 ' limit follows g_Counter_lng
End Sub
