#include "synth/Parameters.h"

int g_MainOutput = 0;
int g_nSampleRate = 40000;
std::atomic<bool> g_bECGGoing{false};
double g_Amplitude = 1.0;
double g_F = 1.0;
double g_PulseWidth = 100.0;
double g_fOutputTime = 0.0;
double g_fOutputTimeGraph = 0.0;
double g_fTimePeriod = 0.0;
double g_fVoltageRange = 0.0;
double g_RangeV4Ch2Off = 5.0;
double g_RangeV4Ch2On = 5.0;
uint16_t g_nSequenceCheck = 0;
int g_nDcDACValue = -1;

int g_DCSetting = 0;
bool g_bVariableDC = true;
bool g_bTestVariableDC[4] = {true, true, true, true};
bool g_bCommonMode = false;
bool g_bRawVariableDC = false;

int g_PacingPulse = 0;
double g_PA = 0.0;
double g_PacingDuration = 2.0;
unsigned int g_PacingRate = 60;
bool g_pacingSynchronized = true;
unsigned int g_PacingOvershootTC = 0;
double g_POA = 0.0;
double g_Pacing_leading = 0.03;

double g_QRSDuration = 100.0;
double g_PDuration = 100.0;
double g_PRInterval = 160.0;
double g_QTInterval = 350.0;
double g_STSegment = 70.0;
double g_TDuration = 180.0;
double g_CusP = 0.2;
double g_CusT = 0.2;
double g_CusST = 0.0;

bool g_DynamicRangeTest = false;
double g_ADynamicRange = 1.0;
double g_FDynamicRange = 40.0;
bool g_FreqScan1 = false;
bool g_FreqScan3 = false;
bool s_FreqScanOn = false;
double s_Fd = 0.0;
double g_Fstart = 0.67;
double g_Ffinal = 150.0;
int g_Fduration = 30;
int g_BaseLineOverload = 0;
int g_MainNoise = 0;
double g_MainsNoiseAmp = 0.1;
bool g_AAMIDriftTest = false;
double g_AAMIDriftTestAmp = 4.0;
double g_AAMIDriftTestWaveLen = 10.0;
double g_AAMIDriftTestWaveLenQuad = 2.5;
double g_AAMIDriftTestWaveLenQuad3 = 7.5;
double g_AAMIDriftTestSlope = 0.8;
bool g_ExternalRespireModule = false;

int g_nSpecialWaveform = 0;
int g_nANE20000ChannelNumber = 0;

double* ECGFile = nullptr;
int ECGFileSize = 0;
double ECGFileFreq = 0.0;
bool ECGFileUnitMV = false;
double* g_DcRawData = nullptr;

HSIM_GRAPH_CALLBACK g_GraphCB = nullptr;
HSIM_GRAPH_CALLBACK g_PacingGraphCB = nullptr;
HSIM_FUNCTION_CALLBACK g_SyncMainFuncCB = nullptr;
HSIM_FREQUENCY_CALLBACK g_SyncFreqCB = nullptr;
HSIM_LEVEL_CALLBACK g_SyncDCOffsetCB = nullptr;
HSIM_LEVEL_CALLBACK g_BaselineResetCB = nullptr;
void (*g_StandardStopCB)(void) = StopCallback;
