#include "Fleches.h"

#include "framework/WinControl.h"

#include <algorithm>
#include <cmath>

namespace velmora {
namespace {

constexpr int kMaxTaille = 32767;
constexpr int kMaxEpaisseur = 255;

int Taille(int value) {
    return std::clamp(value, -kMaxTaille, kMaxTaille);
}

int Trunc(double value) {
    return int(std::trunc(value));
}

TRect Normalised(int l, int t, int r, int b) {
    return Rect(std::min(l, r), std::min(t, b), std::max(l, r), std::max(t, b));
}

}  // namespace

TFleches::TFleches(TComponent* owner) : TGraphicControl(owner) {
    styleLigne_.SetColor(RGB(255, 255, 0));
    styleLigne_.OnChange = [this] { StyleChange(this); };
    styleFondLigne_.OnChange = [this] { StyleChange(this); };
    OnCreate = [this](TComponent* sender) { SiCreate(sender); };
    OnClick = [this](TComponent* sender) { StyleChange(sender); };
    SetBounds(0, 0, 100, 100);
}

void TFleches::SetPositionLigne(TFPositionLigne value) {
    if (positionLigne_ != value) {
        positionLigne_ = value;
        ApplyCompleteRule();
        StyleChange(this);
    }
}

void TFleches::SetPositionPointe(TFPositionPointe value) {
    if (positionPointe_ != value) {
        positionPointe_ = value;
        ApplyCompleteRule();
        StyleChange(this);
    }
}

void TFleches::ApplyCompleteRule() {
    // A cross or an X with points carries them at all four ends.
    const bool complete = positionLigne_ == CompleteDroite || positionLigne_ == CompleteDiagonale;
    if (complete && positionPointe_ != Sans) {
        positionPointe_ = Doubles;
    }
}

void TFleches::StyleChange(TComponent*) {
    Repaint();
}

void TFleches::SiCreate(TComponent*) {
    if (auto* owner = dynamic_cast<TWinControl*>(Owner())) {
        SetParent(owner);
    }
}

void TFleches::Paint() {
    TCanvas& c = Canvas();
    c.Pen().Assign(styleLigne_);
    c.Brush().Assign(styleFondLigne_);
    InitialiseFleche();
}

void TFleches::InitialiseFleche() {
    TCanvas& c = Canvas();
    c.Lock();
    ConstruitLigne();
    ConstruitPointe();
    c.Brush().Assign(styleFondLigne_);
    c.Unlock();
}

void TFleches::ConstruitLigne() {
    const int w = Width();
    const int h = Height();
    const int l1 = Taille(pointe1_.Longueur);
    const int l2 = Taille(pointe2_.Longueur);
    geo_.Cx = w / 2;
    geo_.Cy = h / 2;
    switch (positionPointe_) {
        case Doubles:
            geo_.Y1 = l1;
            geo_.Y2 = h - l2;
            geo_.X1 = l1;
            geo_.X2 = w - l2;
            DefineDiag(&pointe1_, &pointe2_);
            break;
        case Gauche:
            geo_.Y1 = l1;
            geo_.Y2 = h;
            geo_.X1 = l1;
            geo_.X2 = w;
            DefineDiag(&pointe1_, nullptr);
            break;
        case Droite:
            geo_.Y1 = 0;
            geo_.Y2 = h - l1;
            geo_.X1 = 0;
            geo_.X2 = w - l1;
            DefineDiag(nullptr, &pointe1_);
            break;
        case Sans:
            geo_.Y1 = 0;
            geo_.Y2 = h;
            geo_.X1 = 0;
            geo_.X2 = w;
            DefineDiag(nullptr, nullptr);  // the full diagonals
            break;
    }
    DessineLigne();
}

void TFleches::DefineDiag(const TFPointe* debut, const TFPointe* fin) {
    const int w = Width();
    const int h = Height();
    const double d = std::hypot(double(w), double(h));
    // How far an end moves from its corner toward the middle.
    auto shift = [&](const TFPointe& p, double& dx, double& dy) {
        if (p.Forme == Ronde || p.Forme == Carre) {
            dx = Taille(p.Longueur);
            dy = Taille(p.Largeur);
        } else {
            const double l = Taille(p.Longueur);
            dx = d > 0 ? l * w / d : 0.0;
            dy = d > 0 ? l * h / d : 0.0;
        }
    };
    double dx = 0;
    double dy = 0;
    geo_.DescDebut = QPoint(0, 0);
    geo_.MontDebut = QPoint(0, h);
    geo_.DescFin = QPoint(w, h);
    geo_.MontFin = QPoint(w, 0);
    if (debut != nullptr) {
        shift(*debut, dx, dy);
        geo_.DescDebut = QPoint(Trunc(dx), Trunc(dy));
        geo_.MontDebut = QPoint(Trunc(dx), Trunc(h - dy));
    }
    if (fin != nullptr) {
        shift(*fin, dx, dy);
        geo_.DescFin = QPoint(Trunc(w - dx), Trunc(h - dy));
        geo_.MontFin = QPoint(Trunc(w - dx), Trunc(dy));
    }
    geo_.AngleDiag = w <= h ? std::atan2(double(h), double(w)) : std::atan2(double(w), double(h));
}

void TFleches::DessineLigne() {
    TCanvas& c = Canvas();
    const int h = Height();
    const int l1 = Taille(pointe1_.Longueur);
    const int l2 = Taille(pointe2_.Longueur);
    TFGeometrie& g = geo_;
    auto line = [&c](QPoint a, QPoint b) {
        c.MoveTo(a.x(), a.y());
        c.LineTo(b.x(), b.y());
    };
    switch (positionLigne_) {
        case Verticale:
            line(QPoint(g.Cx, g.Y1), QPoint(g.Cx, g.Y2));
            break;
        case Horizontale:
            line(QPoint(g.X1, g.Cy), QPoint(g.X2, g.Cy));
            break;
        case DiagonaleDroite:
            line(g.MontDebut, g.MontFin);
            break;
        case DiagonaleGauche:
            line(g.DescDebut, g.DescFin);
            break;
        case CoudeDroiteHaut:
            line(QPoint(g.Cx, g.Y1), QPoint(g.Cx, g.Cy));
            c.LineTo(g.X2, g.Cy);
            break;
        case CoudeGaucheHaut:
            // The top is this figure's end: it makes room for point 2, or for the single point
            // when only the end carries one.
            if (positionPointe_ == Doubles) {
                g.Y1 = l2;
            } else if (positionPointe_ == Gauche) {
                g.Y1 = 0;
            } else if (positionPointe_ == Droite) {
                g.Y1 = l1;
            }
            line(QPoint(g.Cx, g.Y1), QPoint(g.Cx, g.Cy));
            c.LineTo(g.X1, g.Cy);
            break;
        case CoudeDroiteBas:
            // The bottom is this figure's start: room for point 1.
            if (positionPointe_ == Doubles || positionPointe_ == Gauche) {
                g.Y2 = h - l1;
            } else if (positionPointe_ == Droite) {
                g.Y2 = h;
            }
            line(QPoint(g.Cx, g.Y2), QPoint(g.Cx, g.Cy));
            c.LineTo(g.X2, g.Cy);
            break;
        case CoudeGaucheBas:
            line(QPoint(g.Cx, g.Y2), QPoint(g.Cx, g.Cy));
            c.LineTo(g.X1, g.Cy);
            break;
        case CompleteDroite:
            line(QPoint(g.Cx, g.Y1), QPoint(g.Cx, g.Y2));
            line(QPoint(g.X1, g.Cy), QPoint(g.X2, g.Cy));
            break;
        case CompleteDiagonale:
            line(g.DescDebut, g.DescFin);
            line(g.MontFin, g.MontDebut);
            break;
    }
}

void TFleches::ConstruitPointe() {
    switch (positionPointe_) {
        case Gauche:
            DessinePointe1(positionLigne_, feDebut);
            break;
        case Droite:
            DessinePointe1(positionLigne_, feFin);
            break;
        case Sans:
            break;
        case Doubles:
            if (positionLigne_ == CompleteDroite) {
                DessinePointe1(Horizontale, feDebut);
                DessinePointe1(Verticale, feDebut);
                DessinePointe2(Horizontale, feFin);
                DessinePointe2(Verticale, feFin);
            } else if (positionLigne_ == CompleteDiagonale) {
                DessinePointe1(DiagonaleGauche, feDebut);
                DessinePointe1(DiagonaleDroite, feDebut);
                DessinePointe2(DiagonaleGauche, feFin);
                DessinePointe2(DiagonaleDroite, feFin);
            } else {
                DessinePointe1(positionLigne_, feDebut);
                DessinePointe2(positionLigne_, feFin);
            }
            break;
    }
}

void TFleches::DessinePointe1(TFPositionLigne figure, TFExtremite extremite) {
    DessinePointe(pointe1_, figure, extremite);
}

void TFleches::DessinePointe2(TFPositionLigne figure, TFExtremite extremite) {
    DessinePointe(pointe2_, figure, extremite);
}

void TFleches::DessinePointe(const TFPointe& p, TFPositionLigne figure, TFExtremite extremite) {
    TCanvas& c = Canvas();
    // The outline keeps the line's colour.
    c.Brush().SetColor(p.Couleur);
    c.Pen().SetStyle(styleLigne_.Style());
    c.Pen().SetWidth(std::clamp(p.Epaisseur, 1, kMaxEpaisseur));
    c.Brush().SetStyle(p.Type == Pleine ? bsSolid : bsClear);
    switch (p.Forme) {
        case Ronde:
            c.Ellipse(BoitePointe(figure, extremite, p.Largeur));
            break;
        case Carre:
            c.Rectangle(BoitePointe(figure, extremite, p.Largeur));
            break;
        case Classic:
            CreePointe(figure, extremite, p.Longueur, p.Largeur);
            c.Polygon(pointe_);
            break;
        case Losange:
            CreeLosange(figure, extremite, p.Longueur, p.Largeur);
            c.Polygon(pointe_);
            break;
    }
}

TFleches::Bout TFleches::BoutDe(TFPositionLigne figure, TFExtremite extremite) {
    const bool debut = extremite == feDebut;
    switch (figure) {
        case Verticale:
            return debut ? Bout::Haut : Bout::Bas;
        case Horizontale:
        case CompleteDroite:
            return debut ? Bout::Gauche : Bout::Droite;
        case DiagonaleDroite:
            return debut ? Bout::MontDebut : Bout::MontFin;
        case DiagonaleGauche:
        case CompleteDiagonale:
            return debut ? Bout::DescDebut : Bout::DescFin;
        case CoudeDroiteHaut:
            return debut ? Bout::Haut : Bout::Droite;
        case CoudeGaucheHaut:
            return debut ? Bout::Gauche : Bout::Haut;
        case CoudeDroiteBas:
            return debut ? Bout::Bas : Bout::Droite;
        case CoudeGaucheBas:
            return debut ? Bout::Gauche : Bout::Bas;
    }
    return Bout::Haut;
}

QPoint TFleches::Extremite(Bout bout) const {
    switch (bout) {
        case Bout::Haut:
            return QPoint(geo_.Cx, geo_.Y1);
        case Bout::Bas:
            return QPoint(geo_.Cx, geo_.Y2);
        case Bout::Gauche:
            return QPoint(geo_.X1, geo_.Cy);
        case Bout::Droite:
            return QPoint(geo_.X2, geo_.Cy);
        case Bout::DescDebut:
            return geo_.DescDebut;
        case Bout::DescFin:
            return geo_.DescFin;
        case Bout::MontDebut:
            return geo_.MontDebut;
        case Bout::MontFin:
            return geo_.MontFin;
    }
    return QPoint();
}

QPoint TFleches::Sommet(Bout bout) const {
    const int w = Width();
    const int h = Height();
    switch (bout) {
        case Bout::Haut:
            return QPoint(geo_.Cx, 0);
        case Bout::Bas:
            return QPoint(geo_.Cx, h);
        case Bout::Gauche:
            return QPoint(0, geo_.Cy);
        case Bout::Droite:
            return QPoint(w, geo_.Cy);
        case Bout::DescDebut:
            return QPoint(0, 0);
        case Bout::DescFin:
            return QPoint(w, h);
        case Bout::MontDebut:
            return QPoint(0, h);
        case Bout::MontFin:
            return QPoint(w, 0);
    }
    return QPoint();
}

TRect TFleches::BoitePointe(TFPositionLigne figure, TFExtremite extremite, int largeur) const {
    const int v = Taille(largeur) / 2;
    const TFGeometrie& g = geo_;
    const Bout bout = BoutDe(figure, extremite);
    switch (bout) {
        case Bout::Haut:
            return Normalised(g.Cx - v, 0, g.Cx + v, g.Y1);
        case Bout::Bas:
            return Normalised(g.Cx - v, g.Y2, g.Cx + v, Height());
        case Bout::Gauche:
            return Normalised(0, g.Cy - v, g.X1, g.Cy + v);
        case Bout::Droite:
            return Normalised(g.X2, g.Cy - v, Width(), g.Cy + v);
        default: {
            const QPoint corner = Sommet(bout);
            const QPoint end = Extremite(bout);
            return Normalised(corner.x(), corner.y(), end.x(), end.y());
        }
    }
}

void TFleches::DecalagesDiagonale(Bout bout, int v, double& dx1, double& dy1, double& dx2,
                                  double& dy2) const {
    const double phi = geo_.AngleDiag;
    const double s = geo_.AngleBiais;
    const bool wide = Width() > Height();
    auto P = [wide](double a) { return wide ? std::cos(a) : std::sin(a); };
    auto Q = [wide](double a) { return wide ? std::sin(a) : std::cos(a); };
    const bool descending = bout == Bout::DescDebut || bout == Bout::DescFin;
    if (descending) {
        dx1 = v * P(phi - s);
        dy1 = -v * Q(phi - s);
        dx2 = -v * P(phi + s);
        dy2 = v * Q(phi + s);
    } else {
        dx1 = -v * P(phi - s);
        dy1 = -v * Q(phi - s);
        dx2 = v * P(phi + s);
        dy2 = v * Q(phi + s);
    }
}

void TFleches::CreePointe(TFPositionLigne figure, TFExtremite extremite, int longueur,
                          int largeur) {
    const int l = Taille(longueur);
    const int v = Taille(largeur) / 2;
    // The quotient is an integer one, so a point at least as long as half its width is not
    // skewed; a zero length counts as no skew.
    geo_.AngleBiais = std::atan(double(l != 0 ? v / l : 0));
    const Bout bout = BoutDe(figure, extremite);
    const QPoint tip = Sommet(bout);
    const QPoint p = Extremite(bout);
    pointe_.clear();
    pointe_.push_back(tip);
    switch (bout) {
        case Bout::Haut:
        case Bout::Bas: {
            const int b = int(std::floor(std::cos(geo_.AngleBiais) * v));
            pointe_.push_back(QPoint(p.x() + b, p.y()));
            pointe_.push_back(QPoint(p.x() - b, p.y()));
            break;
        }
        case Bout::Gauche:
        case Bout::Droite: {
            const int b = int(std::floor(std::cos(geo_.AngleBiais) * v));
            pointe_.push_back(QPoint(p.x(), p.y() + b));
            pointe_.push_back(QPoint(p.x(), p.y() - b));
            break;
        }
        default: {
            double dx1 = 0;
            double dy1 = 0;
            double dx2 = 0;
            double dy2 = 0;
            DecalagesDiagonale(bout, v, dx1, dy1, dx2, dy2);
            pointe_.push_back(QPoint(Trunc(p.x() + dx1), Trunc(p.y() + dy1)));
            pointe_.push_back(QPoint(Trunc(p.x() + dx2), Trunc(p.y() + dy2)));
            break;
        }
    }
}

void TFleches::CreeLosange(TFPositionLigne figure, TFExtremite extremite, int longueur,
                           int largeur) {
    const int l = Taille(longueur);
    const int v = Taille(largeur) / 2;
    const int hl = l / 2;
    geo_.AngleBiais = std::atan(double(l != 0 ? v / l : 0));
    const Bout bout = BoutDe(figure, extremite);
    const QPoint tip = Sommet(bout);
    const QPoint p = Extremite(bout);
    const TFGeometrie& g = geo_;
    switch (bout) {
        case Bout::Haut:
            pointe_ = {tip, QPoint(g.Cx - v, g.Y1 - hl), p, QPoint(g.Cx + v, g.Y1 - hl)};
            return;
        case Bout::Bas:
            pointe_ = {tip, QPoint(g.Cx - v, g.Y2 + hl), p, QPoint(g.Cx + v, g.Y2 + hl)};
            return;
        case Bout::Gauche:
            pointe_ = {tip, QPoint(g.X1 - hl, g.Cy + v), p, QPoint(g.X1 - hl, g.Cy - v)};
            return;
        case Bout::Droite:
            pointe_ = {tip, QPoint(g.X2 + hl, g.Cy + v), p, QPoint(g.X2 + hl, g.Cy - v)};
            return;
        default:
            break;
    }
    // M lies hl from the tip along the diagonal, toward the middle.
    const int w = Width();
    const int h = Height();
    const double d = std::hypot(double(w), double(h));
    const double ax = d > 0 ? hl * w / d : 0.0;
    const double ay = d > 0 ? hl * h / d : 0.0;
    const bool fromLeft = bout == Bout::DescDebut || bout == Bout::MontDebut;
    const bool fromTop = bout == Bout::DescDebut || bout == Bout::MontFin;
    const double mx = fromLeft ? ax : w - ax;
    const double my = fromTop ? ay : h - ay;
    double dx1 = 0;
    double dy1 = 0;
    double dx2 = 0;
    double dy2 = 0;
    DecalagesDiagonale(bout, v, dx1, dy1, dx2, dy2);
    pointe_ = {tip, QPoint(Trunc(mx + dx1), Trunc(my + dy1)), p,
               QPoint(Trunc(mx + dx2), Trunc(my + dy2))};
}

}  // namespace velmora
