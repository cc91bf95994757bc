#include "Coordtransfer.h"

#include <QFormLayout>
#include <QLineEdit>

#include "Accessregistry.h"
#include "Dialogs.h"
#include "Format.h"
#include "Numconv.h"
#include "Paramforms.h"

TCoordTransferForm::TCoordTransferForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Coordinate Transfer");
    auto* layout = new QFormLayout(this);
    const TCoordTransfer c = ReadCoordTransfer();
    OriginXEdit = AddEditRow(this, layout, "Origin X ( mm )", FloatToStr(c.OriginX));
    OriginYEdit = AddEditRow(this, layout, "Origin Y ( mm )", FloatToStr(c.OriginY));
    OriginZEdit = AddEditRow(this, layout, "Origin Z ( mm )", FloatToStr(c.OriginZ));
    AddOkCancel(this, layout);
}

void TCoordTransferForm::FormClose(int modalResult)
{
    if (modalResult == mrCancel) return;
    TCoordTransfer c;
    c.OriginX = StrToFloat(OriginXEdit->text());
    c.OriginY = StrToFloat(OriginYEdit->text());
    c.OriginZ = StrToFloat(OriginZEdit->text());
    WriteCoordTransfer(c);
}

int TCoordTransferForm::Execute()
{
    const int r = ShowModal(*this);
    FormClose(r);
    return r;
}

TLensParametersForm::TLensParametersForm(QWidget* owner) : QDialog(owner, Qt::Dialog)
{
    setWindowTitle("Lens Parameters");
    auto* layout = new QFormLayout(this);
    const TLensParameters l = ReadLensParameters();
    ProjectingLensfEdit = AddEditRow(this, layout, "Projecting Lens f = ", QFormat("%8.5f", l.ProjectingLensF));
    ViewingLensfEdit = AddEditRow(this, layout, "Viewing Lens  f =", QFormat("%8.5f", l.ViewLensF));
    AddOkCancel(this, layout);
}

void TLensParametersForm::FormClose(int modalResult)
{
    if (modalResult != mrOk) return;
    TLensParameters l;
    l.ProjectingLensF = StrToFloat(ProjectingLensfEdit->text());
    l.ViewLensF = StrToFloat(ViewingLensfEdit->text());
    WriteLensParameters(l);
}

int TLensParametersForm::Execute()
{
    const int r = ShowModal(*this);
    FormClose(r);
    return r;
}
