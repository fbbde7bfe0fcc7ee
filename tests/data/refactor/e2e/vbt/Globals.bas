Attribute VB_Name = "Globals"
Option Explicit

Public counter As Long
Public limit As Double

Public Sub ResetAll()
    counter = 0
    limit = counter + 1.5 ' limit follows counter
End Sub
