Attribute VB_Name = "Functional"
Option Explicit

Private Type RunState
    Passed As Boolean
    Count As Long
End Type

Public Function Functional_VBT(patterns As Pattern, in_Retries As Long) As Long
    Dim i As Long
    Dim result As Double
    For i = 1 To in_Retries
        result = result + 1
    Next i
    Functional_VBT = 0
End Function
