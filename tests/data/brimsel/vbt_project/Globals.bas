Attribute VB_Name = "Globals"
Option Explicit

' Site-wide settings
Public Const g_MAX_SITES_lng As Long = 8
Public Const MaxRetry As Integer = 3
Global g_TestTemp_dbl As Double
Public g_SiteResults_aSDBL() As SiteDouble
Public gPinList As PinList
Public site As Variant

Public Type type_MeasResult
    Value As Double
    PinName As String
End Type

Private Type LimitSet
    LoLimit As Double
    HiLimit As Double
End Type

Public Enum enum_TestMode
    ModeNormal = 0
    ModeDebug = 1
End Enum

Enum BinCode
    BinPass = 1
    BinFail = 2
End Enum

Private m_Initialized_bool As Boolean
Dim counter As Long

Public Sub InitGlobals()
    Dim i As Long
    counter = 0
    m_Initialized_bool = True
    g_TestTemp_dbl = 25#
    For i = 0 To g_MAX_SITES_lng - 1
        counter = counter + 1
    Next i
End Sub
