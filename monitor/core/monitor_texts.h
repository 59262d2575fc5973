#pragma once
// The monitor's texts: what the main window, the tray and the log say.

namespace corva {

// Texts the main window shows.
namespace text {
inline constexpr char kProductString[] = "Corvamon";
inline constexpr char kMessageTitle[] = "Corvamon";
inline constexpr char kNotFound[] = "No encontré el equipo KRD\r\nERROR en la conexión";
inline constexpr char kConnectionError[] = "Error en la conexión";
inline constexpr char kTrayTip[] = "KRD Tarnix Corvamon";
inline constexpr char kSentOk[] = "Enviado OK";
inline constexpr char kBadDataString[] = "Revise DataString en Corvamon.ini";
inline constexpr char kMonitoring[] = "Monitoreando Equipo";
inline constexpr char kTrayMainTip[] = "Corvamon";
inline constexpr char kTrayBatteryTip[] = "Corvamon - Bateria al ";
inline constexpr char kBalloonTitle[] = "Corvamon";
inline constexpr char kBalloonFailure[] = " FALLA DE LINEA ";
inline constexpr char kBalloonReturn[] = " Retorno de Energía ";
inline constexpr int kBalloonInfo = 1;
// Event texts of the log, with their trailing blank.
inline constexpr char kLogStart[] = "Inicio de Monitoreo KRD ";
inline constexpr char kLogFailure[] = "Corte de energía ";
inline constexpr char kLogReturn[] = "Retorno de energía ";
inline constexpr char kLogForcedShutdown[] = "Cierre Forzado ";
inline constexpr char kLabelOperation[] = "Operacion ";
inline constexpr char kLabelVoltage[] = "Voltaje ";
inline constexpr char kLabelFrequency[] = "Frecuencia ";
inline constexpr char kLabelLine[] = "Linea ";
inline constexpr char kLabelBattery[] = "Bateria ";
inline constexpr char kLabelOnBattery[] = "Operacion con Bateria ";
inline constexpr char kLabelBatteryExhausted[] = "Operacion BATERIA AGOTADA ";
inline constexpr char kLogThresholdShutdown[] = "Apagado por bateria a nivel personalizado ";
inline constexpr char kLogTimeShutdown[] = "Apagado por tiempo a nivel personalizado ";
// The turn-off command could not reach the UPS (the cable or the device gone).
inline constexpr char kLogUpsNotTold[] = "Señal a TNX no enviada ";
// Countdown and shutdown messages in lblmsg.
inline constexpr char kShutdownIn[] = "Apagar en ";
inline constexpr char kSeconds[] = " segundos";
inline constexpr char kShuttingDownPc[] = "Apagando la PC";
inline constexpr char kSavingApplications[] = "Guardando Aplicaciones";
inline constexpr char kShutdownMessage[] = "Apagar";
inline constexpr char kSignalToUps[] = "Señal a TNX";
// Said once in lblmsg when Bitacora.txt cannot be written at all (a read-only folder).
inline constexpr char kLogNotWritable[] = "No pude escribir en Bitacora.txt";
// Hibernation instead of the forced shutdown ([Apaga] Hibernar=1).
inline constexpr char kHibernatingPc[] = "Hibernando la PC";
inline constexpr char kHibernationUnavailable[] = "Hibernacion no disponible";
inline constexpr char kLogHibernate[] = "Hibernacion de la PC ";
inline constexpr char kLogHibernateResume[] = "Reanudacion tras hibernar ";
inline constexpr char kLogHibernationUnavailable[] = "Hibernacion no disponible ";
inline constexpr char kLogHibernationRefused[] = "Hibernacion rechazada ";
inline constexpr char kLogHibernationNotDone[] = "Hibernacion no realizada ";
}  // namespace text

}  // namespace corva
