Attribute VB_Name = "OldHelpers"
Option Explicit

' Kept for older programs; new code uses TestCode.
Public OldFlag As Boolean
Dim k As Long

Public Sub ResetCounters(ByRef inout_Count As Long)
    Dim j As Integer
    Dim Site As Variant
    inout_Count = 0
    k = 0
    j = 0
End Sub
