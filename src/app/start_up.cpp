#include "app/start_up.h"

#include "app/application.h"
#include "app/main_window.h"

#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <utility>

namespace {

// Runs one cycle, as Plot does, once the window is on screen: a person sees
// the window at once, even while the first cycle waits on the router. The
// widget paints into its backing store before the window system has mapped
// it, so the signal is the window's first exposure, not the widget's paint.
class TPlotWhenShown : public QObject {
public:
    explicit TPlotWhenShown(TForm1& form)
        : QObject(&form)
        , FForm(form)
    {
        FForm.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        QWindow* window = FForm.windowHandle();
        if (watched == &FForm && event->type() == QEvent::Show && window) {
            // The window exists from here on; it is exposed later.
            FForm.removeEventFilter(this);
            window->installEventFilter(this);
        } else if (watched == window && event->type() == QEvent::Expose && window->isExposed()) {
            window->removeEventFilter(this);
            TForm1* form = &FForm;
            // After this exposure has been painted, not inside it.
            QTimer::singleShot(0, form, [form] { RunHandler([form] { form->Button1Click(); }); });
            deleteLater();
        }
        return false;
    }

private:
    TForm1& FForm;
};

QRadioButton* RangeButton(const TForm1& form, TRangeChoice range)
{
    switch (range) {
    case TRangeChoice::rc0To255:
        return form.rb1;
    case TRangeChoice::rc256To512:
        return form.rb2;
    case TRangeChoice::rc0To512:
        return form.rb3;
    }
    return form.rb1;
}

} // namespace

void ApplyStartFields(TForm1& form, const TStartFields& fields)
{
    form.edHost->setText(fields.Host);
    form.edUsername->setText(fields.Username);
    form.edPrompt->setText(fields.Prompt);
    form.SetRouter(fields.Router);
    // A click on a range runs a cycle; choosing one here must not, so the
    // buttons say nothing while it moves.
    const QSignalBlocker block1(form.rb1), block2(form.rb2), block3(form.rb3);
    RangeButton(form, fields.Range)->setChecked(true);
}

TStartFields StartFieldsOf(const TForm1& form)
{
    TStartFields fields;
    fields.Host = form.edHost->text();
    fields.Username = form.edUsername->text();
    fields.Prompt = form.edPrompt->text();
    fields.Router = form.Router();
    for (TRangeChoice range : {TRangeChoice::rc0To255, TRangeChoice::rc256To512, TRangeChoice::rc0To512})
        if (RangeButton(form, range)->isChecked())
            fields.Range = range;
    return fields;
}

void PrepareWindow(TForm1& form, const TStartOptions& options, const QString& settingsFile)
{
    ApplyStartFields(form, WithOptions(ReadStartFields(settingsFile), options));
    // For this run only: the remembered choice stays as it was.
    if (options.Figures)
        form.SetReadFigures(true);
    if (options.Plot) {
        form.edPassword->setText(options.Password);
        new TPlotWhenShown(form);
    }
    KeepStartFields(form, settingsFile);
}

void KeepStartFields(TForm1& form, const QString& settingsFile)
{
    // A folder that cannot be written to costs the next start its
    // remembered fields, nothing more; it is said once.
    auto told = std::make_shared<bool>(false);
    const auto write = [&form, settingsFile, told] {
        if (!WriteStartFields(settingsFile, StartFieldsOf(form)) && !std::exchange(*told, true))
            std::fprintf(stderr, "tirvane: could not remember the settings in %s\n", qPrintable(settingsFile));
    };
    // Written as they change, not only at a clean exit, so a crash or a
    // logout forgets nothing: once typing has paused, and at the close.
    auto* settle = new QTimer(&form);
    settle->setSingleShot(true);
    settle->setInterval(SettingsSettleMs);
    QObject::connect(settle, &QTimer::timeout, &form, write);
    const auto changed = [settle] { settle->start(); };
    for (QLineEdit* edit : {form.edHost, form.edUsername, form.edPrompt})
        QObject::connect(edit, &QLineEdit::textChanged, settle, changed);
    for (QRadioButton* rb : {form.rb1, form.rb2, form.rb3})
        QObject::connect(rb, &QRadioButton::toggled, settle, changed);
    for (QAction* item : form.RouterItems)
        if (item)
            QObject::connect(item, &QAction::triggered, settle, changed);
    QObject::connect(&form, &TForm1::Closing, &form, [settle, write] {
        settle->stop();
        write();
    });
}
