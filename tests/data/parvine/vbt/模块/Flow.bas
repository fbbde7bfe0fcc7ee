Attribute VB_Name = "Flow"
Option Explicit

Private total As Long
Dim flags() As Boolean

Public Function Measure_VBT(argCount As Long, ByVal Name As String) As Long
    Dim result As Double
    Dim p As point
    result = argCount * 2
    total = total + 1
    counter = counter + 1
    Measure_VBT = result
End Function

Private Sub Helper()
    Dim result As Long
    result = 1
    counter = 0 ' 计数清零
End Sub
