Attribute VB_Name = "Flow"
Option Explicit

Private total As Long
Private spare As Long

Public Function Measure_VBT(argCount As Long) As Long
    Dim result As Double
    Dim reading As Long
    result = argCount * 2 + counter
    reading = total
    total = total + 1
    Measure_VBT = result + reading + spare
End Function
