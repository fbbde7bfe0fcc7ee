Attribute VB_Name = "DSP_Filters"
Option Explicit

Private Type FilterTaps
    Count As Long
    Gain As Double
End Type

Private Enum WindowKind
    WindowFlat = 0
    WindowHann = 1
End Enum

Public Function Filter_DSP(ByVal in_Wave As DspWave, out_Result As DspWave, gain As Double) As Long
    Dim taps As Long
    taps = 16
    Filter_DSP = 0
End Function

Public Function Spectrum_DSP(ByRef in_wave_data As DspWave, ByVal points As Long) As Long
    Dim i_Bins_lng As Long
    i_Bins_lng = points / 2
    Spectrum_DSP = 0
End Function

Public Function Calibrate_IP(ByVal x As Double, y) As Long
    Calibrate_IP = 0
End Function

Private Sub LogValue(message As String, ByVal level As Long)
    Debug.Print message, level
End Sub
