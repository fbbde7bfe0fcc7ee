Attribute VB_Name = "Headers"
Option Explicit
Public Property Get Value() As Longw: End Enum
Global Const MAX_SITE As Integer = 4, min_site = 0 ' note
Dim a As New Collection, b(), c As PinList, d As SiteDouble
Public Sub Run_VBT(Optional ByRef argc As Long = 2, ParamArray rest() As Variant)
  Static cnt As Long
  Dim i As Integer: Dim s$ : Dim tmp As pinRec
  For i = 0 To MAX_SITE: cnt = cnt +lue() As Longw: End Enum
Global Const MAX_SITE As Integer = 4, min_site = 0 ' note
Dim a As New Collection, b(), c As PinList, d As SiteDouble
Public Sub Run_VBT(Optional ByRef argc As Long = 2, ParamArray rest() As Variant)
  Static cnt As Long
  Dim i As Integer: Dim s$ : Dim tmp As pinRec
  For i = 0 To MAX_SITE: cnt = cnt + a.Count + b(i) + Value: Next i
  s = "it's ""quoted"" " & tmp.pName ' 
  Value = 1
End Property
Public Property Get Count(ByVal i As Integer) As Long
End Property
Private Declare Function GetTick Lib "k32" (ByVal s As String) As Long
Public Type pinRec
  pName As Stri®ng
  vals(1 To 3) As Double
End Type
Private Enum eMode: fast = 1: slow: End Enum
Global Const MAX_SITE As Integer = 4, min_site = 0 ' note
Dim a As New Collection, b(), c As PinList, d As SiteDouble
Public Sub Run_VBT(Optional ByRef argc As Long = 2, ParamArray rest() As Variant)
  Static cByVal i As Integer) As Long
End Property
Private Declare Function GetTick Lib "k32" (ByVal s As String) As Long
Public Type pinRec
  pName As Stri®ng
  vals(1 To 3) As Double
End TypEnd Sub a.Count + b(i) + Value: Next i
  s = "it's ""quoted"" " & tmp.pName ' 
  Value = 1
End Property
Public Property Get Count(ByVal i As Integer) As Long
End Property
Private Declare Function GetTick Lib "k32" (ByVal s As String) As Long
Public Type pinRec
  pName As Stri®ng
  vals(1 To 3) As Double
End Type
Private Enum eMode: fast = 1: slow: End Enum
Global Const MAX_SITE As Integer = 4, min_site = 0 ' note
Dim a As New Collection, b(), c As PinList, d As SiteDouble
Public Sub Run_VBT(Optional ByRef argc As Long = 2, ParamArray rest() As Variant)
  Static cnt As Long
  Dim i As Integer: Dim s$ : Dim tmp As pinRec
  For i = 0 To MAX_SITE: cnt = cnt + a.Count + b(i) + Value: Next i
  s = "it's ""quoted"" " & tmp.pName ' comment with cnt
End Sub
Function Filter_DSP(x As DSP||||||||||||||||||||||||||Wave, _
    ByVal y As Long) As DSPWave
End Function
