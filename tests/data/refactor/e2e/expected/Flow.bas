Attribute VB_Name = "Flow"
Option Explicit

Private m_Total_lng As Long
Private spare As Long

Public Function Measure_VBT(argCount As Long) As Long
    Dim Result_dbl As Double
    Dim reading As Long
    Result_dbl = argCount * 2 + g_Counter_lng
    reading = m_Total_lng
    m_Total_lng = m_Total_lng + 1
    Measure_VBT = Result_dbl + reading + spare
End Function
