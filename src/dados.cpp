// Case data input, the data listing and the field storage.
#include "dados.hpp"

namespace tx {

void allocate_fields(State& s) {
  const int nxy = s.c.nxy, ny = s.c.ny, nx = s.c.nx;
  Fields& f = s.f;
  // Contents start at zero: owners that clear their arrays rely on nothing else.
  for (Vec* v : {&f.xp,    &f.Y,      &f.yp,     &f.X,      &f.re,     &f.rn,     &f.rc,
                 &f.rp,    &f.ye,     &f.xk,     &f.yk,     &f.Jp,     &f.xe,     &f.v,
                 &f.p,     &f.T,      &f.ro,     &f.u,      &f.Uce,    &f.Vcn,    &f.roe,
                 &f.ron,   &f.pl,     &f.v_old,  &f.p_old,  &f.T_old,  &f.ro_old, &f.u_old,
                 &f.ve,    &f.un,     &f.vn,     &f.ue,     &f.ve_old, &f.un_old, &f.vn_old,
                 &f.ue_old, &f.dn,    &f.psi,    &f.M,      &f.de,     &f.dun,    &f.dve,
                 &f.dvn,   &f.due,    &f.bc_u,   &f.bc_v,   &f.cp})
    v->assign(nxy);
  f.msi_l.assign(nxy, 4);
  f.msi_u.assign(nxy, 3);
  f.b.assign(nxy);
  f.a.assign(nxy, 5);
  for (Vec* v : {&f.vin, &f.Tin, &f.pin, &f.uin, &f.dpin, &f.pin_old, &f.Min}) v->assign(ny);
  for (Vec* v : {&f.p1D, &f.T1D, &f.M1D, &f.u1D}) v->assign(nx);
}

}  // namespace tx
