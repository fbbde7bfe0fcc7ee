Attribute VB_Name = "VBT_Main"
Option Explicit

Private m_LastResult As type_MeasResult

Public Function Continuity_VBT(ByVal PinGroup As String, in_Limit As Double) As Long
    Dim i_Result_dbl As Double
    Dim measured As Double, j As Integer
    Dim site As Variant
    Dim resultArr(7) As Double ' per site
    Const i_LOOP_MAX_int As Integer = 10
    On Error GoTo ErrHandler
    For Each site In TheExec.Sites
        measured = MeasurePin(PinGroup)
        resultArr(site) = measured
        If measured > in_Limit Then i_Result_dbl = measured
    Next site
    m_LastResult.Value = i_Result_dbl
    Continuity_VBT = TL_SUCCESS
    Exit Function
ErrHandler:
    Continuity_VBT = TL_ERROR
End Function

Public Function Leakage_VBT(PinName As String, pin_count As Long) As Long
    Dim leak As LimitSet
    Dim mode As enum_TestMode
    mode = ModeNormal
    Leakage_VBT = TL_SUCCESS
End Function

Private Function MeasurePin(pin As String) As Double
    MeasurePin = 0.5 ' stub measured value
End Function
