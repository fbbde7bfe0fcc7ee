Attribute VB_Name = "Globals"
Option Explicit

' Device-wide state shared by the test procedures.
Public g_SiteCount_lng As Long
Public TestTemperature As Double
Global g_LotId_str As String
Public g_RetestCount As Long
Public site As Variant
Public g_Context_var As Variant
Public DebugMode As Boolean
Public g_PowerPins As PinList
Public Const g_MAX_SITES_lng As Long = 4
Public Const MaxRetries As Integer = 3
Global Const g_VddNominal_dbl As Double = 0.9

Public Type MeasResult
    Value As Double
    PinName As String
End Type

Public Type type_Limits
    LoLimit As Double
    HiLimit As Double
End Type

Public Enum TestStage
    StageProbe = 0
    StageFinal = 1
End Enum

Public Enum enum_BinCode
    BinPass = 1
    BinFail = 2
End Enum

Private m_Initialized_bool As Boolean
Private cachedLevels As Double
Dim retryCounter As Long
Private Const m_TIMEOUT_MS_lng As Long = 500
Private Const DefaultWait As Double = 0.001

Public Sub InitGlobals()
    Dim i As Long
    Dim siteIndex As Integer
    Const LOOP_LIMIT As Long = 10
    g_SiteCount_lng = g_MAX_SITES_lng
    TestTemperature = 25
    g_RetestCount = 0
    DebugMode = False
    retryCounter = 0
    cachedLevels = 0
    For i = 0 To LOOP_LIMIT - 1
        siteIndex = i Mod g_SiteCount_lng
    Next i
    m_Initialized_bool = True
End Sub
