#pragma once
// The fields of the front panel by name, each in the group the window shows
// it in. The panel (frmMain) is this form with its state and procedures; the
// fields come first so that they exist before anything that reads them.
#include "panel/fields.h"

struct FormFields : public CaptionField {
  FormFields() : CaptionField("frmMain") {}

  // ---- fields: top level --------------------------------------------------
  Label lblProtocol{"lblProtocol", this};
  ListField cmbMode{"cmbMode", this};
  Group pctHEXOpt{"pctHEXOpt", this};
  OptionButton optFORM{"optFORM", &pctHEXOpt};
  OptionButton optHEX{"optHEX", &pctHEXOpt};
  Label Label10{"Label10", this};
  Label lblResponse{"lblResponse", this};
  Label lblDT{"lblDT", this};

  // ---- group pctRTU: serial settings --------------------------------------
  Group pctRTU{"pctRTU", this};
  Label Label3{"Label3", &pctRTU};
  ListField cmbRtuPort{"cmbRtuPort", &pctRTU};
  Label Label4{"Label4", &pctRTU};
  ListField cmbRtuSpeed{"cmbRtuSpeed", &pctRTU, true};
  Label Label11{"Label11", &pctRTU};
  ListField cmbRtuParity{"cmbRtuParity", &pctRTU};
  Label Label12{"Label12", &pctRTU};
  ListField cmbRtuStopBit{"cmbRtuStopBit", &pctRTU};
  Label Label13{"Label13", &pctRTU};
  TextField txtRtuTimeout{"txtRtuTimeout", &pctRTU};
  Label Label14{"Label14", &pctRTU};
  Button cmdRtuOpenPort{"cmdRtuOpenPort", &pctRTU};
  Button cmdRtuClosePort{"cmdRtuClosePort", &pctRTU};

  // ---- group pctTCP: socket settings --------------------------------------
  Group pctTCP{"pctTCP", this};
  Label Label1{"Label1", &pctTCP};
  TextField txtTcpHost{"txtTcpHost", &pctTCP};
  Label Label2{"Label2", &pctTCP};
  TextField txtTcpPort{"txtTcpPort", &pctTCP};
  Label Label5{"Label5", &pctTCP};
  TextField txtTcpTimeout{"txtTcpTimeout", &pctTCP};
  Label Label6{"Label6", &pctTCP};
  Button cmdTcpConnect{"cmdTcpConnect", &pctTCP};
  Button cmdTcpDisconnect{"cmdTcpDisconnect", &pctTCP};

  // ---- group pctRequest -----------------------------------------------------
  Group pctRequest{"pctRequest", this};
  Group pctForm{"pctForm", &pctRequest};
  Label lblUnitID{"lblUnitID", &pctForm};
  TextField txtUnitID{"txtUnitID", &pctForm};
  Label lblCommand{"lblCommand", &pctForm};
  ListField cmbCmd{"cmbCmd", &pctForm};
  Label Label7{"Label7", &pctForm};
  TextField txtAddr{"txtAddr", &pctForm};
  Label lblLen{"lblLen", &pctForm};
  TextField txtQuantity{"txtQuantity", &pctForm};
  TextField txtValue{"txtValue", &pctForm};
  // The fields of the further commands (commands.cpp), in a second row of the
  // form shown only for the commands that read them: the values of 15 (coils),
  // 23 (registers written) and 08 (query data) with how 15's are typed; the
  // write block's address of 23; the masks of 22; the read code and first
  // object of 43/14.
  Label lblValues{"lblValues", &pctForm};
  TextField txtValues{"txtValues", &pctForm};
  Label lblValuesAs{"lblValuesAs", &pctForm};
  ListField cmbValuesAs{"cmbValuesAs", &pctForm};
  Label lblWriteAddr{"lblWriteAddr", &pctForm};
  TextField txtWriteAddr{"txtWriteAddr", &pctForm};
  Label lblAndMask{"lblAndMask", &pctForm};
  TextField txtAndMask{"txtAndMask", &pctForm};
  Label lblOrMask{"lblOrMask", &pctForm};
  TextField txtOrMask{"txtOrMask", &pctForm};
  Label lblReadCode{"lblReadCode", &pctForm};
  ListField cmbReadCode{"cmbReadCode", &pctForm};
  Label lblObjectId{"lblObjectId", &pctForm};
  TextField txtObjectId{"txtObjectId", &pctForm};
  Label Label15{"Label15", &pctRequest};
  ListField cmbFormat{"cmbFormat", &pctRequest};
  Button cmdSend{"cmdSend", &pctRequest};
  Button cmdAuto1{"cmdAuto1", &pctRequest};
  Group pctAuto{"pctAuto", &pctRequest};
  Button cmdAuto0{"cmdAuto0", &pctAuto};
  // The polling interval in ms (100..65535), above the Auto buttons.
  TextField txtPollInterval{"txtPollInterval", &pctRequest};
  // The caption of txtPollInterval, on its left.
  Label lblPollInterval{"lblPollInterval", &pctRequest};
  // How addresses are written ("Addresses": protocol from 0, register
  // numbers from 1, reference numbers; setting "addresses") and its caption.
  Label lblAddresses{"lblAddresses", &pctRequest};
  ListField cmbAddresses{"cmbAddresses", &pctRequest};

  // ---- group pctHEX: raw request ------------------------------------------
  Group pctHEX{"pctHEX", this};
  TextField txtHEX{"txtHEX", &pctHEX, true};

  // ---- response area --------------------------------------------------------
  Group pctResponseForm{"pctResponseForm", this};
  Group pctResponseText{"pctResponseText", &pctResponseForm};
  TextField txtResponse{"txtResponse", &pctResponseText, true};

  // ---- log area -------------------------------------------------------------
  Group pctLog{"pctLog", this};
  RichTextField txtLog{"txtLog", &pctLog, true};
  Group pctLogo{"pctLogo", &pctLog};
  Image imgLogo{"imgLogo", &pctLogo};
  Label Label8{"Label8", &pctLogo};
  Label lblScada{"lblScada", &pctLogo};
};
