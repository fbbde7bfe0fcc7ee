Attribute VB_Name = "Globals"
Option Explicit

Public counter As Long
Public anything As Variant
Public site As Variant
Global Const maxCount As Long = 10

Public Type point
    x As Double
    y As Double
End Type

Public Enum color
    Red = 1
    Green = 2
End Enum
