Attribute VB_Name = "DSP_Filters"

Public Function Filter_DSP(ByVal in_Wave As DSPWave, ByRef out_wave As DSPWave, gain As Double) As Long
    Dim tmp As DSPWave
    Dim k As Long
    Dim coeff(3) As Double, n As Long
    tmp = in_Wave
    For k = 0 To 3
        coeff(k) = gain * k
    Next k
    out_wave = tmp
    Filter_DSP = 0
End Function

Function Calib_IP(x As Double) As Double
    Calib_IP = x * 2
End Function
