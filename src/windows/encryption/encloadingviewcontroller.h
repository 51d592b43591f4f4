#pragma once

#include "windows/sheetdialog.h"

class BusyIndicator;

// The spinner sheet that covers the encryption view while a key request runs. One is made
// with the view and shown again for every request; its spinner is started once and keeps
// turning whenever the sheet is up. It cannot be cancelled: Escape and closing it do
// nothing, the answer of the request closes it.
class ENCLoadingViewController : public SheetDialog {
    Q_OBJECT
public:
    explicit ENCLoadingViewController(QWidget* parent = nullptr);

    BusyIndicator* loadingView() const { return m_loadingView; }

protected:
    void cancelRequested() override;

private:
    BusyIndicator* m_loadingView = nullptr;
};
