// Scene objects of the engine: string variables ("nenv"), transform nodes ("n3dnode"),
// materials ("nmaterialnode"), and the colour table they share with the label widget.
#pragma once

#include "engine/services.h"

#include <string>

struct Rgba {
    float r = 1.0f, g = 1.0f, b = 1.0f, a = 1.0f;
    bool operator==(const Rgba&) const = default;
};

// A colour by name ("Red", "violet", "GRAY", ...; letter case ignored). False when unknown.
bool ColourByName(const std::string& name, Rgba& colour);

// Registers "zuwLabel" (label_widget.cpp).
void RegisterLabelClasses(nKernelServer* kernel);

// Class "nenv": a text variable; seti/setf keep numbers as text.
class nEnvVar : public nEnv {
public:
    void SetString(const char* text) override;
    const char* GetString() const override { return text_.c_str(); }

    // sets <text>, gets, seti <int>, geti, setf <number>, getf
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

private:
    std::string text_;
};

struct Vector3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    bool operator==(const Vector3&) const = default;
};

// Class "n3dnode": a node of the scene with position, rotation (degrees), scale and the name
// of the shape it shows; child nodes are made below it with `new`.
class nTransformNode : public nRoot {
public:
    const Vector3& GetPosition() const { return position_; }
    const Vector3& GetRotation() const { return rotation_; }
    const Vector3& GetScale() const { return scale_; }
    const std::string& GetShape() const { return shape_; }
    void SetPosition(const Vector3& v) { position_ = v; }
    void SetRotation(const Vector3& v) { rotation_ = v; }
    void SetScale(const Vector3& v) { scale_ = v; }
    void SetShape(const std::string& shape) { shape_ = shape; }

    // txyz/rxyz/sxyz x y z, gettxyz, getrxyz, getsxyz, setshape <text>, getshape
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

private:
    Vector3 position_;
    Vector3 rotation_;
    Vector3 scale_{1.0f, 1.0f, 1.0f};
    std::string shape_;
};

// Class "nmaterialnode": a material whose diffuse colour can be set by name.
class nMaterialNode : public nRoot {
public:
    const Rgba& GetDiffuse() const { return diffuse_; }
    void SetDiffuse(const Rgba& colour) { diffuse_ = colour; }

    // set_diffuse_by_name <colour>, setdiffuse r g b ?a?, getdiffuse
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

private:
    Rgba diffuse_;
};
