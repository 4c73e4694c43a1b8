#ifndef SERVICEMENUWIDGET_H
#define SERVICEMENUWIDGET_H

#include <QWidget>

#include <memory>

class QErfcStack;
class ServiceMenuWidgetPrivate;

// The service view of one node: its Erfc address, its file-system password
// and its clock, each set with one request (the password two) to the node's
// service function. Every request blocks the view, with a bound, until the
// node answers; a failure is shown in a message box. An address that a
// present node or the program itself holds is refused before sending.
class ServiceMenuWidget : public QWidget
{
    Q_OBJECT
public:
    ServiceMenuWidget(QErfcStack* stack, quint8 address, QWidget* parent = nullptr);
    ~ServiceMenuWidget() override;

    // The node the view talks to; follows a successful address change.
    quint8 address() const;

private slots:
    void onUpdateTimeTimerTimeout();
    void on_pushButtonErfcAddressSet_clicked();
    void on_pushButtonPasswordSet_clicked();
    void on_pushButtonTimeSet_clicked();
    void on_dateTimeEditTimeSelected_editingFinished();
    void on_checkBoxTimeCurrent_toggled(bool checked);

private:
    Q_DISABLE_COPY(ServiceMenuWidget)
    std::unique_ptr<ServiceMenuWidgetPrivate> d;
};

#endif // SERVICEMENUWIDGET_H
