Attribute VB_Name = "Globals"
Option Explicit

' Device-wide settings of the test program
Public g_SiteCount_lng As Long
Public TestTemp As Double
Public Const MaxSites As Long = 4

Public Enum enum_Mode
    ModeRoom = 0
    ModeHot = 1
End Enum
