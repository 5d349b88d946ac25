#pragma once

#include "framework/GraphicControl.h"

#include <QPoint>

#include <vector>

namespace velmora {

// The figure drawn.
enum TFPositionLigne {
    Verticale,
    Horizontale,
    DiagonaleDroite,
    DiagonaleGauche,
    CoudeDroiteHaut,
    CoudeGaucheHaut,
    CoudeDroiteBas,
    CoudeGaucheBas,
    CompleteDroite,
    CompleteDiagonale,
};
// Filled or outline point.
enum TFTypePointe { Pleine, Vide };
// Shape of a point: arrowhead, circle or ellipse, rectangle, diamond.
enum TFFormePointe { Classic, Ronde, Carre, Losange };
// Which ends carry a point: both, the start only, the end only, none.
enum TFPositionPointe { Doubles, Gauche, Droite, Sans };
// The end of a figure a point is drawn at: its start (point 1's place) or its end.
enum TFExtremite { feDebut, feFin };

// The attributes of one point.
struct TFPointe {
    TFTypePointe Type = Pleine;
    TFFormePointe Forme = Classic;
    int Longueur = 20;
    int Largeur = 20;
    TColor Couleur = RGB(255, 255, 0);
    int Epaisseur = 1;
};

// The geometry of one paint, all in pixels of the control.
struct TFGeometrie {
    int Cx = 0;             // W div 2, where the vertical segment runs
    int Cy = 0;             // H div 2, where the horizontal segment runs
    int Y1 = 0;             // vertical segment, top end
    int Y2 = 0;             // vertical segment, bottom end
    int X1 = 0;             // horizontal segment, left end
    int X2 = 0;             // horizontal segment, right end
    QPoint DescDebut;       // falling diagonal: start near the top left corner
    QPoint DescFin;         // falling diagonal: end near the bottom right corner
    QPoint MontDebut;       // rising diagonal: start near the bottom left corner
    QPoint MontFin;         // rising diagonal: end near the top right corner
    double AngleDiag = 0;   // arctan(H / W) when W <= H, arctan(W / H) otherwise
    double AngleBiais = 0;  // skew of the last arrowhead
};

// A windowless line figure with decorative points at its ends: a vertical, horizontal or
// diagonal line, an elbow, a cross or an X, with arrowheads, circles, squares or diamonds.
//
// Point 1 sits at the start of the figure, point 2 at its end; a single point (Gauche or Droite)
// is drawn with point 1's attributes. The straight segments are shortened so that each point
// fits between the segment's end and the control's edge. A cross or an X carries points at all
// four ends: choosing either with points switches PositionPointe to Doubles.
//
// Every property, pen and brush change repaints at once. Point sizes are taken within
// -32767..32767 and point pen widths within 1..255 when drawing, so absurd values cannot
// overflow the geometry or stall the drawing; the stored values stay as set.
class TFleches : public TGraphicControl {
public:
    explicit TFleches(TComponent* owner = nullptr);

    TPen& StyleLigne() { return styleLigne_; }
    void SetStyleLigne(const TPen& pen) { styleLigne_.Assign(pen); }
    TBrush& StyleFondLigne() { return styleFondLigne_; }
    void SetStyleFondLigne(const TBrush& brush) { styleFondLigne_.Assign(brush); }

    TFPositionLigne PositionLigne() const { return positionLigne_; }
    void SetPositionLigne(TFPositionLigne value);
    TFPositionPointe PositionPointe() const { return positionPointe_; }
    void SetPositionPointe(TFPositionPointe value);

    TFTypePointe Pointe1Type() const { return pointe1_.Type; }
    void SetPointe1Type(TFTypePointe value) { Change(pointe1_.Type, value); }
    TFTypePointe Pointe2Type() const { return pointe2_.Type; }
    void SetPointe2Type(TFTypePointe value) { Change(pointe2_.Type, value); }
    TFFormePointe Pointe1Forme() const { return pointe1_.Forme; }
    void SetPointe1Forme(TFFormePointe value) { Change(pointe1_.Forme, value); }
    TFFormePointe Pointe2Forme() const { return pointe2_.Forme; }
    void SetPointe2Forme(TFFormePointe value) { Change(pointe2_.Forme, value); }
    int Pointe1Longueur() const { return pointe1_.Longueur; }
    void SetPointe1Longueur(int value) { Change(pointe1_.Longueur, value); }
    int Pointe2Longueur() const { return pointe2_.Longueur; }
    void SetPointe2Longueur(int value) { Change(pointe2_.Longueur, value); }
    int Pointe1Largeur() const { return pointe1_.Largeur; }
    void SetPointe1Largeur(int value) { Change(pointe1_.Largeur, value); }
    int Pointe2Largeur() const { return pointe2_.Largeur; }
    void SetPointe2Largeur(int value) { Change(pointe2_.Largeur, value); }
    TColor Pointe1Couleur() const { return pointe1_.Couleur; }
    void SetPointe1Couleur(TColor value) { Change(pointe1_.Couleur, value); }
    TColor Pointe2Couleur() const { return pointe2_.Couleur; }
    void SetPointe2Couleur(TColor value) { Change(pointe2_.Couleur, value); }
    int Pointe1Epaisseur() const { return pointe1_.Epaisseur; }
    void SetPointe1Epaisseur(int value) { Change(pointe1_.Epaisseur, value); }
    int Pointe2Epaisseur() const { return pointe2_.Epaisseur; }
    void SetPointe2Epaisseur(int value) { Change(pointe2_.Epaisseur, value); }

    // Preset to SiCreate; the control never raises it.
    TNotifyEvent OnCreate;

    // The steps of a paint, in their order of use. They draw on Canvas() with the geometry of
    // the current paint (ConstruitLigne computes it).
    //
    // Builds the arrowhead (tip, base point, base point) or the diamond (tip, side corner,
    // shortened end point, side corner) of a point at an end of a figure into Pointe().
    virtual void CreePointe(TFPositionLigne figure, TFExtremite extremite, int longueur,
                            int largeur);
    virtual void CreeLosange(TFPositionLigne figure, TFExtremite extremite, int longueur,
                             int largeur);
    virtual void InitialiseFleche();
    virtual void ConstruitLigne();
    virtual void DessineLigne();
    // Shortens the diagonals at the ends that carry a point (nullptr: an end without one) and
    // stores the diagonal angle.
    virtual void DefineDiag(const TFPointe* debut, const TFPointe* fin);
    virtual void ConstruitPointe();
    virtual void DessinePointe1(TFPositionLigne figure, TFExtremite extremite);
    virtual void DessinePointe2(TFPositionLigne figure, TFExtremite extremite);
    // Makes the owner the parent when the owner is a windowed control.
    virtual void SiCreate(TComponent* Sender);

    // The repaint that every setter, the pen, the brush and (preset) OnClick use.
    void StyleChange(TComponent* Sender);

    const TFGeometrie& Geometrie() const { return geo_; }
    const std::vector<QPoint>& Pointe() const { return pointe_; }
    // The box of a point of the given width at an end of a figure, in the current geometry.
    TRect BoitePointe(TFPositionLigne figure, TFExtremite extremite, int largeur) const;

protected:
    void Paint() override;

private:
    enum class Bout { Haut, Bas, Gauche, Droite, DescDebut, DescFin, MontDebut, MontFin };
    static Bout BoutDe(TFPositionLigne figure, TFExtremite extremite);
    QPoint Extremite(Bout bout) const;  // the shortened end point
    QPoint Sommet(Bout bout) const;     // where the full line meets the edge or corner
    // The two offsets of the arrowhead's base points at a diagonal end.
    void DecalagesDiagonale(Bout bout, int v, double& dx1, double& dy1, double& dx2,
                            double& dy2) const;
    void DessinePointe(const TFPointe& pointe, TFPositionLigne figure, TFExtremite extremite);
    void ApplyCompleteRule();

    template <typename T>
    void Change(T& field, T value) {
        if (field != value) {
            field = value;
            StyleChange(this);
        }
    }

    TPen styleLigne_;
    TBrush styleFondLigne_;
    TFPositionLigne positionLigne_ = Verticale;
    TFPositionPointe positionPointe_ = Doubles;
    TFPointe pointe1_;
    TFPointe pointe2_;
    TFGeometrie geo_;
    std::vector<QPoint> pointe_;
};

}  // namespace velmora
